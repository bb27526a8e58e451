#pragma once
// What tells one version of a file from the next without reading it: its size,
// last-write, creation and change times. The change time moves with every write
// and with every change of the other times, so a rewrite that restores the size
// and the times, as copy and restore tools do, still shows. One query of the
// path; a symbolic link is followed to its target.
#include <windows.h>

#include "common/CString.h"

struct FileStamp {
    ULONGLONG size = 0;
    LONGLONG lastWrite = 0;
    LONGLONG creation = 0;
    LONGLONG change = 0;
    bool operator==(const FileStamp&) const noexcept = default;
};

enum class StampResult {
    Stamped,  // the stamp describes the file
    Missing,  // neither the file nor its folder is there
    Failed,   // no answer: the file may be there or not
};

StampResult QueryFileStamp(const CString& path, FileStamp& stamp) noexcept;
