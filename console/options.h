// Option errors in this project's words, for both commands: one line naming the option and what it
// takes, where the option library would print its own text ("Could not convert: --size = abc").
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace console {

// What an option of the library's type name takes, in words: "INT" "a whole number", "FLOAT" "a
// number", "TEXT" "a name or text"; "" for one it does not know.
std::string TakesOfTypeName(const std::string& typeName);

// The name among `names` nearest to `given` (a letter left out, added, changed or two swapped,
// twice at most, and fewer edits than half its length), or "" when none is that near.
std::string Nearest(const std::string& given, const std::vector<std::string>& names);

// The option library's message for a parse error (`text`), said as this project says it. `takes`
// answers what the option of that name takes ("a whole number"), or "" when it cannot tell; `verbs`
// lists the verbs for a command line that names none; `options` are the verb's own options
// ("--sample"), of which an unknown one is told the nearest ("did you mean --sample?").
std::string OptionError(const std::string& text, const std::function<std::string(const std::string&)>& takes,
                        const std::string& verbs, const std::vector<std::string>& options = {});

} // namespace console
