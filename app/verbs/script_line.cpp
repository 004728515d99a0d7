// Reading one line of a script: the tokenizer the script runner dispatches on.
#include "verbs/script_line.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace app::script {

void Fail(const std::string& reason) { throw LineError{reason}; }

std::string Quote(std::string_view s) {
    std::string q = "\"";
    for (size_t i = 0; i < s.size() && i < 40; ++i) {
        auto ch = static_cast<unsigned char>(s[i]);
        if (ch == '"' || ch == '\\') {
            q += '\\';
            q += static_cast<char>(ch);
        } else if (ch < 0x20 || ch >= 0x7f) {
            static const char* hex = "0123456789abcdef";
            q += "\\x";
            q += hex[ch >> 4];
            q += hex[ch & 15];
        } else {
            q += static_cast<char>(ch);
        }
    }
    return q + (s.size() > 40 ? "...\"" : "\"");
}

namespace {
bool IsWordChar(char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_'; }

// -?digits(.digits)?([eE][+-]?digits)? and nothing else: the numbers of JSON.
size_t NumberLength(std::string_view s) {
    size_t i = 0;
    auto digits = [&] {
        size_t from = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
            ++i;
        return i > from;
    };
    if (i < s.size() && s[i] == '-') ++i;
    if (!digits()) return 0;
    if (i < s.size() && s[i] == '.') {
        ++i;
        if (!digits()) return 0;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (!digits()) return 0;
    }
    return i;
}
} // namespace

void Line::SkipSpace() {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
}

bool Line::AtEnd() {
    SkipSpace();
    return pos >= text.size();
}

std::string Line::Word() {
    SkipSpace();
    size_t from = pos;
    while (pos < text.size() && IsWordChar(text[pos]))
        ++pos;
    return std::string(text.substr(from, pos - from));
}

bool Line::Take(char ch) {
    SkipSpace();
    if (pos >= text.size() || text[pos] != ch) return false;
    ++pos;
    return true;
}

std::string_view Line::Piece() {
    SkipSpace();
    size_t end = pos;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t')
        ++end;
    return text.substr(pos, end - pos);
}

void Line::End() {
    if (!AtEnd()) Fail("unexpected " + Quote(text.substr(pos)) + " at the end of the line");
}

Value Line::ReadValue() {
    if (AtEnd()) Fail("a value is missing after =");
    char ch = text[pos];
    if (ch == '"') return ReadString();
    if (size_t n = NumberLength(text.substr(pos))) {
        Value v{Value::Number, std::string(text.substr(pos, n))};
        pos += n;
        if (pos < text.size() && IsWordChar(text[pos])) Fail("expected a value, found " + Quote(Piece()));
        v.number = std::strtod(v.text.c_str(), nullptr);
        if (!std::isfinite(v.number)) Fail("the number " + v.text + " is out of range");
        return v;
    }
    if (std::isalpha(static_cast<unsigned char>(ch))) return {Value::Word, Word()};
    Fail("expected a value, found " + Quote(Piece()));
}

std::string Line::Name(const char* missing) {
    if (AtEnd()) Fail(missing);
    if (text[pos] == '"') {
        std::string name = ReadString().text;
        End();
        return name;
    }
    std::string_view rest = text.substr(pos);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t'))
        rest.remove_suffix(1);
    return std::string(rest);
}

Value Line::ReadString() {
    Value v{Value::String, ""};
    for (++pos;;) {
        if (pos >= text.size()) Fail("unterminated string");
        char ch = text[pos++];
        if (ch == '"') return v;
        if (ch != '\\') {
            v.text += ch;
            continue;
        }
        if (pos >= text.size()) Fail("unterminated string");
        char e = text[pos++];
        if (e == 'n')
            v.text += '\n';
        else if (e == 't')
            v.text += '\t';
        else if (e == '"' || e == '\\')
            v.text += e;
        else
            Fail("unknown escape " + Quote(std::string("\\") + e) + " in a string");
    }
}

} // namespace app::script
