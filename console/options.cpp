// The option library's parse errors, matched by their fixed wording and said again in ours.
#include "console/options.h"

#include <cstdlib>
#include <regex>

namespace console {

std::string TakesOfTypeName(const std::string& full) {
    std::string typeName = full.substr(0, full.find_first_of(": "));
    if (typeName == "INT") return "a whole number";
    if (typeName == "UINT") return "a whole number, 0 or more";
    if (typeName == "FLOAT" || typeName == "NUMBER") return "a number";
    if (typeName == "TEXT") return "a name or text";
    return "";
}

std::string OptionError(const std::string& text, const std::function<std::string(const std::string&)>& takes,
                        const std::string& verbs) {
    auto taking = [&](const std::string& name) {
        std::string t = takes ? takes(name) : "";
        return t.empty() ? std::string() : "; it takes " + t;
    };
    std::smatch m;
    if (text == "A subcommand is required") return "a verb is required: " + verbs;
    if (std::regex_match(text, m, std::regex("Could not convert: (\\S+) = (.*)")))
        return m[1].str() + ": \"" + m[2].str() + "\" is not a value it takes" + taking(m[1]);
    if (std::regex_match(text, m, std::regex("(\\S+): Value (.*) not in range (\\S+) to (\\S+)"))) {
        std::string v = m[2].str();
        char* end = nullptr;
        bool number = !v.empty() && (std::strtod(v.c_str(), &end), *end == '\0');
        if (!number) return m[1].str() + ": \"" + v + "\" is not a number from " + m[3].str() + " to " + m[4].str();
        return m[1].str() + ": " + v + " is outside " + m[3].str() + " to " + m[4].str();
    }
    if (std::regex_match(text, m, std::regex("(\\S+): (.*) not in \\{(.*)\\}")))
        return m[1].str() + ": \"" + m[2].str() + "\" is not one of " + m[3].str();
    if (std::regex_match(text, m, std::regex("(\\S+): Directory is actually a file: (.*)")))
        return m[1].str() + ": " + m[2].str() + " is a file; give a folder";
    if (std::regex_match(text, m, std::regex("The following arguments? (?:was|were) not expected: (.*)")))
        return "\"" + m[1].str() + "\" is not an option or argument this verb takes";
    if (std::regex_match(text, m, std::regex("(\\S+) is required")))
        return m[1].str() + " is missing" + taking(m[1]);
    if (std::regex_match(text, m, std::regex("(\\S+): \\d+ required \\S+ missing")))
        return m[1].str() + " needs a value" + taking(m[1]);
    if (std::regex_match(text, m, std::regex("(\\S+): too many inputs for a flag")))
        return m[1].str() + " takes no value";
    // anything else: the library's text, starting lower-case as our lines do
    std::string said = text;
    if (!said.empty() && said[0] >= 'A' && said[0] <= 'Z') said[0] = char(said[0] - 'A' + 'a');
    return said;
}

} // namespace console
