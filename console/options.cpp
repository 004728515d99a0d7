// The option library's parse errors, matched by their fixed wording and said again in ours.
#include "console/options.h"

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>

namespace console {

std::string TakesOfTypeName(const std::string& full) {
    std::string typeName = full.substr(0, full.find_first_of(": "));
    if (typeName == "INT") return "a whole number";
    if (typeName == "UINT") return "a whole number, 0 or more";
    if (typeName == "FLOAT" || typeName == "NUMBER") return "a number";
    if (typeName == "TEXT") return "a name or text";
    return "";
}

namespace {
// Edits from a to b: a letter left out, added or changed, or two neighbours swapped, each one.
size_t Edits(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// The words of the library's list of what was not expected, which it gives last first.
std::vector<std::string> InGivenOrder(const std::string& list) {
    std::vector<std::string> words;
    std::istringstream in(list);
    for (std::string w; in >> w;)
        words.push_back(w);
    std::reverse(words.begin(), words.end());
    return words;
}
} // namespace

std::string Nearest(const std::string& given, const std::vector<std::string>& names) {
    std::string best;
    size_t bestEdits = 3;
    for (const std::string& name : names) {
        size_t e = Edits(given, name);
        if (e < bestEdits && 2 * e < given.size()) {
            best = name;
            bestEdits = e;
        }
    }
    return best;
}

std::string OptionError(const std::string& text, const std::function<std::string(const std::string&)>& takes,
                        const std::string& verbs, const std::vector<std::string>& options) {
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
    if (std::regex_match(text, m, std::regex("The following arguments? (?:was|were) not expected: (.*)"))) {
        std::vector<std::string> words = InGivenOrder(m[1].str());
        std::string first = words.empty() ? m[1].str() : words.front();
        if (first.rfind("-", 0) == 0) {
            std::string near = Nearest(first, options);
            return first + " is not an option of this verb" + (near.empty() ? "" : "; did you mean " + near + "?");
        }
        std::string all;
        for (const std::string& w : words)
            all += (all.empty() ? "" : " ") + w;
        return "\"" + all + "\" is not an option or argument this verb takes";
    }
    if (std::regex_match(text, m, std::regex("(\\S+): At Most (\\d+) required but received (\\d+)")))
        return m[1].str() + ": given " + m[3].str() + " times; give it " + (m[2].str() == "1" ? "once" : "at most " + m[2].str() + " times");
    if (std::regex_match(text, m, std::regex("(\\S+): (?:Directory|Path) does not exist: (.*)")))
        return m[1].str() + ": " + m[2].str() + " does not exist; give a folder that does";
    if (std::regex_match(text, m, std::regex("(\\S+): File does not exist: (.*)")))
        return m[1].str() + ": " + m[2].str() + " does not exist";
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
