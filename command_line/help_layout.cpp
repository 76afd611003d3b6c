#include "command_line/help_layout.h"

#include <sstream>

namespace {

// The help's width; only a usage form, which help2man wants on one line, is
// longer.
constexpr size_t kWidth = 80;
// Where an option's help starts; a longer name pushes its first line right.
constexpr size_t kHelpColumn = 22;

// `text` filled greedily into lines of kWidth, the first starting at
// `column`, the others indented to `indent`.
std::string Fill(const std::string& text, size_t column, size_t indent) {
    std::istringstream words(text);
    std::string filled;
    size_t at = column;
    bool first = true;
    for (std::string word; words >> word;) {
        if (!first && at + 1 + word.size() > kWidth) {
            filled += "\n" + std::string(indent, ' ');
            at = indent;
        } else if (!first) {
            filled += ' ';
            ++at;
        }
        filled += word;
        at += word.size();
        first = false;
    }
    return filled;
}

std::string Paragraphs(const std::string& text) {
    std::istringstream lines(text);
    std::string laidOut;
    for (std::string line; std::getline(lines, line);) {
        laidOut += (laidOut.empty() ? "" : "\n") + Fill(line, 0, 0) + "\n";
    }
    return laidOut;
}

std::string OptionLines(const HelpOption& option) {
    std::string left = "  " + option.names + (option.value.empty() ? "" : " " + option.value);
    left += left.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - left.size(), ' ') : "  ";
    return left + Fill(option.help, left.size(), kHelpColumn) + "\n";
}

}  // namespace

std::string LayOutHelp(const HelpText& text) {
    std::string help;
    for (size_t i = 0; i < text.usageForms.size(); ++i) {
        help += (i == 0 ? "Usage: " : "  or:  ") + text.program + " " + text.usageForms[i] + "\n";
    }
    help += "\n" + Paragraphs(text.description);
    for (const HelpGroup& group : text.groups) {
        help += "\n" + group.heading + ":\n";
        for (const HelpOption& option : group.options) help += OptionLines(option);
    }
    return help + "\n" + Paragraphs(text.epilogue);
}
