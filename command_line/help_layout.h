#pragma once

#include <string>
#include <vector>

// The text of a program's --help, laid out as GNU programs lay it out and
// as help2man reads it into a manual page: the usage forms (its SYNOPSIS),
// the description, the options in groups (its subsections), the epilogue.

struct HelpOption {
    std::string names;  // "-q, --quiet"
    std::string value;  // "Z|auto"; empty for a flag
    std::string help;
};

struct HelpGroup {
    std::string heading;
    std::vector<HelpOption> options;
};

struct HelpText {
    std::string program;
    std::vector<std::string> usageForms;  // what follows the program's name, one form each
    std::string description;              // paragraphs, one a line
    std::vector<HelpGroup> groups;
    std::string epilogue;                 // paragraphs, one a line
};

std::string LayOutHelp(const HelpText& text);
