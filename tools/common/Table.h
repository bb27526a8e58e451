#pragma once
// The tools' text tables: columns as wide as their widest cell, two spaces
// apart, each line indented.
#include <string>
#include <vector>

class Table {
public:
    explicit Table(std::vector<std::wstring> headings, size_t indent = 2) : indent_(indent) { Row(std::move(headings)); }
    // A row may be shorter than the headings; its last cell may then run on.
    Table& Row(std::vector<std::wstring> cells);
    std::wstring Text() const;

private:
    size_t indent_;
    std::vector<std::vector<std::wstring>> rows_;
};
