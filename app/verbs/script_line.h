// Reading one line of a script from left to right: words, names, numbers and strings, and the
// one-line reason a line cannot be read.
#pragma once
#include <string>
#include <string_view>

namespace app::script {

// Why a line cannot run; the runner adds the script's name and the line number.
struct LineError {
    std::string reason;
};
[[noreturn]] void Fail(const std::string& reason);

// A piece of script text in double quotes, with anything unprintable escaped so that a message
// stays on one line; long pieces are cut.
std::string Quote(std::string_view s);

struct Value {
    enum Kind { Number, String, Word } kind;
    std::string text; // the number as written, the string's contents, or the word
    double number = 0;
};

// The rest of one line, read from left to right.
struct Line {
    std::string_view text;
    size_t pos = 0;

    bool AtEnd();
    std::string Word();
    // Takes `ch` when it comes next (after blanks).
    bool Take(char ch);
    // The next blank-separated piece, for messages.
    std::string_view Piece();
    // Fails unless only blanks are left.
    void End();
    // A number (as JSON writes them), a string in double quotes, or a word.
    Value ReadValue();
    // The rest of the line as one name: in double quotes, or as it stands without trailing blanks.
    std::string Name(const char* missing);

  private:
    void SkipSpace();
    Value ReadString();
};

} // namespace app::script
