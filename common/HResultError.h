#pragma once
// The error of the string, container and COM support layer: an exception that
// carries an HRESULT. It never crosses a COM or exported boundary; CATCH_RETURN
// turns it (and std::bad_alloc) into the HRESULT there.
#include <windows.h>

#include <exception>

class HResultError : public std::exception {
public:
    explicit HResultError(HRESULT hr) noexcept : hr_(hr) {}
    HRESULT Code() const noexcept { return hr_; }
    const char* what() const noexcept override { return "HResultError"; }

private:
    HRESULT hr_;
};

[[noreturn]] void ThrowHResult(HRESULT hr);

// The HRESULT of the exception being handled; call only inside a catch block.
HRESULT ResultFromCaughtException() noexcept;

// HRESULT of the calling thread's last Win32 error (E_FAIL when it holds none).
HRESULT HResultFromLastError() noexcept;
