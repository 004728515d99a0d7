// Option errors in our words: the option library's own messages, made by parsing real command lines.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include "console/options.h"

namespace {
// The line a parse of `args` gives after the verb "v", in our words.
std::string Said(std::vector<std::string> args) {
    CLI::App cli{"t"};
    cli.require_subcommand(1);
    CLI::App* v = cli.add_subcommand("v", "a verb");
    int size = 0, spf = 0;
    std::string out, format;
    v->add_option("--size", size, "");
    v->add_option("--spf", spf, "")->check(CLI::Range(1, 10));
    v->add_option("--format", format, "")->check(CLI::IsMember({"csv", "json"}));
    v->add_option("--out", out, "")->required();
    args.insert(args.begin(), "t");
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    try {
        cli.parse(int(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        auto takes = [&](const std::string& name) {
            const CLI::Option* opt = v->get_option_no_throw(name);
            return opt ? console::TakesOfTypeName(opt->get_type_name()) : std::string();
        };
        std::vector<std::string> options;
        for (const CLI::Option* opt : v->get_options())
            for (const std::string& name : opt->get_lnames())
                options.push_back("--" + name);
        return console::OptionError(e.what(), takes, "v", options);
    }
    return "";
}

TEST(OptionError, EachKindOfMistakeIsOneLineNamingTheOptionAndWhatItTakes) {
    EXPECT_EQ(Said({}), "a verb is required: v");
    EXPECT_EQ(Said({"v", "--out", "o", "--size", "abc"}), "--size: \"abc\" is not a value it takes; it takes a whole number");
    EXPECT_EQ(Said({"v", "--out", "o", "--spf", "0"}), "--spf: 0 is outside 1 to 10");
    EXPECT_EQ(Said({"v", "--out", "o", "--format", "xml"}), "--format: \"xml\" is not one of csv,json");
    EXPECT_EQ(Said({"v", "--out", "o", "extra"}), "\"extra\" is not an option or argument this verb takes");
    EXPECT_EQ(Said({"v", "--out", "o", "extra", "more"}), "\"extra more\" is not an option or argument this verb takes")
        << "in the order given";
    EXPECT_EQ(Said({"v", "--out", "o", "--szie", "3"}), "--szie is not an option of this verb; did you mean --size?");
    EXPECT_EQ(Said({"v", "--out", "o", "--formt", "csv"}), "--formt is not an option of this verb; did you mean --format?");
    EXPECT_EQ(Said({"v", "--out", "o", "--colour", "red"}), "--colour is not an option of this verb") << "none near";
    EXPECT_EQ(Said({"v", "--out", "o", "--out", "p"}), "--out: given 2 times; give it once");
    EXPECT_EQ(Said({"v"}), "--out is missing; it takes a name or text");
    EXPECT_EQ(Said({"v", "--out"}), "--out needs a value; it takes a name or text");
}
} // namespace
