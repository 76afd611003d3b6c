#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

// What a program's command line comes to: the program runs, or stops at
// once.
struct CommandLineOutcome {
    enum class Next { Run, Print, Refuse };
    Next next = Next::Run;
    // Print: the help or the version. Refuse: the mistake, one line naming
    // the option, without the program's name.
    std::string text;

    // A mistake found in what the options say together.
    static CommandLineOutcome Refusal(std::string mistake) { return {Next::Refuse, std::move(mistake)}; }

    // For a command line that does not run: prints the help or version on
    // standard output and returns 0, or refuses the arguments.
    int Stop(const std::string& program) const;
};

// Prints "PROGRAM: MISTAKE (PROGRAM --help tells more)" on standard error
// and returns 2, the exit status of bad arguments.
int RefuseArguments(const std::string& program, const std::string& mistake);

// Reads one occurrence of an option: its words as given, as many as the
// name of its value has words ("XMIN YMIN XMAX YMAX" takes four). Returns
// "" when they are right, else what the option wants ("1 to 21 or auto"),
// which the refusal quotes.
using OptionReader = std::function<std::string(const std::vector<std::string>& words)>;

// How an option appears besides its line in the help.
struct OptionDeclaration {
    bool required = false;  // in every form of the usage; "... is missing" without it
    unsigned usageForms = 0;  // bit i: in the i-th form of the usage

    OptionDeclaration& Required() {
        required = true;
        return *this;
    }
    OptionDeclaration& InUsage(unsigned forms) {
        usageForms |= forms;
        return *this;
    }
};

// One program's options, each declared once with its names, its value, its
// reader and its help. The usage, the help (from which the manual page is
// made) and the parsing all follow from the declarations, the same way in
// every program:
//   --opt VALUE and --opt=VALUE, an empty VALUE being none; -q for a
//   one-letter name; GDAL-style single-dash names (-te) taking their values
//   as separate words; a flag takes no value;
//   an option given again is read again (the last one counts, unless its
//   reader gathers them);
//   -h, --help and --version, declared by the command line itself, close
//   the last group, and win over any mistake wherever they stand;
//   a mistake is refused with one line naming the option;
//   a required option missing is refused once all the others are read.
class CommandLine {
public:
    // `description` and `epilogue`: paragraphs of the help, one a line,
    // wrapped to the help's width.
    CommandLine(std::string program, std::string version, std::string description, std::string epilogue);
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // The options declared after this are listed under `heading`.
    void Group(const std::string& heading);

    // `names`: "--zoom", "-q,--quiet" or a GDAL-style "-te". `value`: the
    // name of its value in the usage and the help; one word per word the
    // option takes, or one name ending in "..." for one word or more, up to
    // the next option.
    OptionDeclaration& Option(const std::string& names, const std::string& value, const std::string& help,
                              OptionReader read);
    // An option without a value; `set` becomes true when it is given.
    OptionDeclaration& Flag(const std::string& names, const std::string& help, bool& set);

    // The arguments after the program's name.
    CommandLineOutcome Parse(const std::vector<std::string>& args);

private:
    struct Declarations;
    std::unique_ptr<Declarations> declarations;
};
