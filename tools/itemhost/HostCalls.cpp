// The host's calls, in the host's order: one sequence for the plain run and for --explain.
#include <windows.h>
#include <objbase.h>

#include "common/CString.h"
#include "common/ComPtr.h"
#include "common/UniqueResource.h"
#include "tools/itemhost/Report.h"

FormatInfo AskFormat(IPlxFileFormat* format) {
    FormatInfo info;
    UniqueBstr maker, description, extensions;
    info.infoResult = format->GetInfo(maker.Put(), description.Put(), extensions.Put());
    if (SUCCEEDED(info.infoResult)) {
        info.maker = StringOrEmpty(maker.Get());
        info.description = StringOrEmpty(description.Get());
        info.extensions = StringOrEmpty(extensions.Get());
    }
    LONG flags = 0;
    info.capabilitiesResult = format->GetCapabilities(0, &flags);
    info.capabilities = flags;
    return info;
}

ItemAnswer AskItem(IPlxFileFormat* format, const std::wstring& path, bool hideType3) {
    ItemAnswer answer;
    answer.path = path;
    UniqueBstr bstrPath(SysAllocString(path.c_str()));
    ComPtr<IPlxFileNavigator> navigator;
    answer.navigatorResult = format->CreateNavigator(bstrPath.Get(), 0, navigator.Put());
    if (FAILED(answer.navigatorResult)) return answer;

    if (hideType3) navigator->SetOption(3);
    LONG count = 0;
    ReferenceRecord* records = nullptr;
    answer.referencesResult = navigator->GetReferences(0, &count, &records);
    if (SUCCEEDED(answer.referencesResult) && records) {
        for (LONG i = 0; i < count; ++i) answer.references.emplace_back(records[i]);
        FreeReferenceRecords(records, count);
    }

    ComPtr<IPlxFileFormatProps> props;
    answer.dateResult = format->QueryInterface(IID_IPlxFileFormatProps, props.PutVoid());
    if (SUCCEEDED(answer.dateResult)) {
        UniqueVariant in, value, extra;
        in.vt = VT_BSTR;
        in.bstrVal = SysAllocString(path.c_str());
        answer.dateResult = props->GetProperty(1, in, &value, &extra);
        if (SUCCEEDED(answer.dateResult) && value.vt == VT_DATE) answer.date = value.date;
    }
    return answer;
}
