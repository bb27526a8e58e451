#include "plugin/ItemPath.h"

namespace {

constexpr UnitText kItemsMarker("<items>");

}  // namespace

bool SplitItemPath(UnitView path, int drive, ItemPathParts& parts) {
    parts.drive = drive;
    if (parts.drive == -1) return false;
    parts.marker = path.find(kItemsMarker.View());
    if (parts.marker == UnitView::npos) return false;
    parts.viewRoot = UnitString(path.substr(0, parts.marker));
    return true;
}

UnitString ItemName(UnitView path) {
    const std::size_t slash = path.rfind('\\');
    return UnitString(slash == UnitView::npos ? path : path.substr(slash + 1));
}
