#include "module/RegistryScript.h"

#include "common/Result.h"

void ScriptReplacements::Add(std::wstring_view name, std::wstring_view value) {
    if (Find(name)) return;
    entries_.emplace_back(CString(name), CString(value));
}

const CString* ScriptReplacements::Find(std::wstring_view name) const noexcept {
    for (const auto& [entryName, value] : entries_) {
        if (EqualsIgnoreCase(entryName, name)) return &value;
    }
    return nullptr;
}

namespace {

// Deeper nesting than any real script needs; it bounds the parser's recursion.
constexpr int kMaxDepth = 64;

struct ScriptSyntaxError {};

[[noreturn]] void Fail() { throw ScriptSyntaxError{}; }

CString ExpandReplacements(std::wstring_view text, const ScriptReplacements& replacements) {
    CString out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t percent = text.find(L'%', pos);
        if (percent == std::wstring_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, percent - pos));
        const size_t close = text.find(L'%', percent + 1);
        if (close == std::wstring_view::npos) Fail();
        const std::wstring_view name = text.substr(percent + 1, close - percent - 1);
        if (name.empty()) {
            out += L'%';
        } else {
            const CString* value = replacements.Find(name);
            if (!value) Fail();
            // The value is not scanned again: a path may itself contain '%'.
            out += *value;
        }
        pos = close + 1;
    }
    return out;
}

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }

struct Token {
    enum class Kind { End, Word, Quoted };
    Kind kind = Kind::End;
    CString text;

    bool IsWord(std::wstring_view word) const { return kind == Kind::Word && EqualsIgnoreCase(text, word); }
    bool IsPunctuation() const { return kind == Kind::Word && (text == L"{" || text == L"}" || text == L"="); }
};

class Tokenizer {
public:
    explicit Tokenizer(std::wstring_view text) : text_(text) {}

    Token Next() {
        if (hasPeeked_) {
            hasPeeked_ = false;
            return std::move(peeked_);
        }
        return Read();
    }
    const Token& Peek() {
        if (!hasPeeked_) {
            peeked_ = Read();
            hasPeeked_ = true;
        }
        return peeked_;
    }

private:
    Token Read() {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
        Token token;
        if (pos_ == text_.size()) return token;
        if (text_[pos_] == L'\'') {
            token.kind = Token::Kind::Quoted;
            for (++pos_;; ++pos_) {
                if (pos_ == text_.size()) Fail();
                if (text_[pos_] == L'\'') {
                    if (pos_ + 1 < text_.size() && text_[pos_ + 1] == L'\'') {
                        ++pos_;
                    } else {
                        ++pos_;
                        break;
                    }
                }
                token.text += text_[pos_];
            }
            return token;
        }
        token.kind = Token::Kind::Word;
        const size_t start = pos_;
        while (pos_ < text_.size() && !IsSpace(text_[pos_])) {
            if (text_[pos_] == L'\'') Fail();
            ++pos_;
        }
        token.text.assign(text_.substr(start, pos_ - start));
        return token;
    }

    std::wstring_view text_;
    size_t pos_ = 0;
    Token peeked_;
    bool hasPeeked_ = false;
};

HKEY RootKeyFromName(const Token& token) {
    static const struct {
        const wchar_t* shortName;
        const wchar_t* longName;
        HKEY key;
    } kRoots[] = {
        {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},  {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {L"HKU", L"HKEY_USERS", HKEY_USERS},
        {L"HKCC", L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    };
    for (const auto& root : kRoots) {
        if (token.IsWord(root.shortName) || token.IsWord(root.longName)) return root.key;
    }
    Fail();
}

class Parser {
public:
    explicit Parser(std::wstring_view text) : tokens_(text) {}

    RegistryScript ParseScript() {
        RegistryScript script;
        for (Token token = tokens_.Next(); token.kind != Token::Kind::End; token = tokens_.Next()) {
            RegistryScriptRoot root;
            root.root = RootKeyFromName(token);
            Expect(L"{");
            ParseBlock(root.keys, /*allowValues=*/false, 1);
            script.push_back(std::move(root));
        }
        return script;
    }

private:
    void Expect(std::wstring_view word) {
        if (!tokens_.Next().IsWord(word)) Fail();
    }

    // A key or value name: a quoted string or a bare word that is no punctuation.
    CString ParseName() {
        Token token = tokens_.Next();
        if (token.kind == Token::Kind::End || token.IsPunctuation() || token.text.empty()) Fail();
        return std::move(token.text);
    }

    // "s 'text'" after an equals sign.
    CString ParseData() {
        Expect(L"=");
        Expect(L"s");
        Token token = tokens_.Next();
        if (token.kind != Token::Kind::Quoted) Fail();
        return std::move(token.text);
    }

    // Entries up to the closing brace, which is consumed.
    void ParseBlock(std::vector<RegistryScriptEntry>& entries, bool allowValues, int depth) {
        if (depth > kMaxDepth) Fail();
        for (;;) {
            const Token& next = tokens_.Peek();
            if (next.kind == Token::Kind::End) Fail();
            if (next.IsWord(L"}")) {
                tokens_.Next();
                return;
            }
            entries.push_back(ParseEntry(allowValues, depth));
        }
    }

    RegistryScriptEntry ParseEntry(bool allowValues, int depth) {
        RegistryScriptEntry entry;
        for (;;) {
            const Token& next = tokens_.Peek();
            if (next.IsWord(L"ForceRemove")) {
                entry.forceRemove = true;
            } else if (next.IsWord(L"NoRemove")) {
                entry.noRemove = true;
            } else {
                break;
            }
            tokens_.Next();
        }
        if (entry.forceRemove && entry.noRemove) Fail();

        if (tokens_.Peek().IsWord(L"val")) {
            tokens_.Next();
            if (!allowValues || entry.forceRemove) Fail();
            entry.kind = RegistryScriptEntry::Kind::Value;
            entry.name = ParseName();
            entry.data = ParseData();
            entry.hasData = true;
            return entry;
        }

        entry.name = ParseName();
        // A backslash would make one entry stand for several keys, which removal
        // and ForceRemove could not treat as one.
        if (entry.name.find(L'\\') != CString::npos) Fail();
        if (tokens_.Peek().IsWord(L"=")) {
            entry.data = ParseData();
            entry.hasData = true;
        }
        if (tokens_.Peek().IsWord(L"{")) {
            tokens_.Next();
            ParseBlock(entry.children, /*allowValues=*/true, depth + 1);
        }
        return entry;
    }

    Tokenizer tokens_;
};

}  // namespace

HRESULT ParseRegistryScript(std::wstring_view text, const ScriptReplacements& replacements,
                            RegistryScript& script) noexcept try {
    try {
        const CString expanded = ExpandReplacements(text, replacements);
        script = Parser(expanded).ParseScript();
        return S_OK;
    } catch (const ScriptSyntaxError&) {
        return DISP_E_EXCEPTION;
    }
}
CATCH_RETURN()
