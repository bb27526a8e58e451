#include "tools/common/Json.h"

#include <cmath>

#include "tools/common/ResultText.h"

Json Number(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

Json ResultObject(HRESULT hr, const char* codeMember) {
    Json result = Json::object();
    result[codeMember] = Utf8(HexResult(hr));
    result["meaning"] = Utf8(ResultMeaning(hr));
    return result;
}

std::string JsonText(const Json& document) {
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::wstring Text(const Json& member) {
    if (!member.is_string()) return member.is_null() ? std::wstring() : Text(Json(member.dump()));
    const std::string& utf8 = member.get_ref<const std::string&>();
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(units > 0 ? units : 0, L'\0');
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), units);
    return text;
}
