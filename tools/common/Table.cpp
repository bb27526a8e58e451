#include "tools/common/Table.h"

#include <algorithm>

Table& Table::Row(std::vector<std::wstring> cells) {
    rows_.push_back(std::move(cells));
    return *this;
}

std::wstring Table::Text() const {
    std::vector<size_t> widths;
    for (const auto& row : rows_) {
        if (widths.size() < row.size()) widths.resize(row.size());
        for (size_t i = 0; i + 1 < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    std::wstring out;
    for (const auto& row : rows_) {
        std::wstring line(indent_, L' ');
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::wstring(widths[i] - row[i].size() + 2, L' ');
        }
        while (!line.empty() && line.back() == L' ') line.pop_back();
        out += line + L"\n";
    }
    return out;
}
