#include "command_line/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <sstream>

#include "command_line/help_layout.h"

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

std::string Joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string joined;
    for (const std::string& part : parts) joined += (joined.empty() ? "" : separator) + part;
    return joined;
}

bool IsGdalStyle(const std::string& name) {
    return name.size() > 2 && name[0] == '-' && name[1] != '-';
}

// CLI11 knows one-letter names after one dash only: a GDAL-style name is
// given to it as a long one.
std::string CliName(const std::string& name) {
    return IsGdalStyle(name) ? "-" + name : name;
}

}  // namespace

int RefuseArguments(const std::string& program, const std::string& mistake) {
    std::fprintf(stderr, "%s: %s (%s --help tells more)\n", program.c_str(), mistake.c_str(), program.c_str());
    return 2;
}

int CommandLineOutcome::Stop(const std::string& program) const {
    if (next == Next::Refuse) return RefuseArguments(program, text);
    std::fputs(text.c_str(), stdout);
    return 0;
}

struct CommandLine::Declarations {
    struct Entry {
        CLI::Option* option = nullptr;
        std::vector<std::string> names;  // as typed: "-q", "--quiet"
        std::string value;               // empty: a flag
        std::string help;
        std::string group;
        OptionDeclaration declaration;

        // The name a refusal and the usage show: the long one.
        const std::string& Name() const { return names.back(); }
        size_t Words() const { return Split(value, ' ').size(); }
        // A value named "PART...": one word or more, up to the next option.
        bool Repeated() const { return value.size() > 3 && value.compare(value.size() - 3, 3, "...") == 0; }
    };

    CLI::App app;
    std::string program;
    std::string version;
    std::string description;
    std::string epilogue;
    std::string group = "Options";
    std::deque<Entry> entries;  // in the order declared
    std::map<std::string, std::string> cliWords;  // a GDAL-style name -> its CLI11 spelling
    const Entry* help = nullptr;
    const Entry* versionFlag = nullptr;

    Entry& Declare(const std::string& names, const std::string& value, const std::string& text) {
        Entry& entry = entries.emplace_back();
        entry.names = Split(names, ',');
        entry.value = value;
        entry.help = text;
        entry.group = group;
        return entry;
    }

    // A GDAL-style name may be the long name with one dash less
    // (-overwrite beside --overwrite): one name to CLI11.
    std::string CliNames(const Entry& entry) {
        std::vector<std::string> names;
        for (const std::string& name : entry.names) {
            const std::string cli = CliName(name);
            if (IsGdalStyle(name)) cliWords[name] = cli;
            if (std::find(names.begin(), names.end(), cli) == names.end()) names.push_back(cli);
        }
        return Joined(names, ",");
    }

    const Entry* Typed(const std::string& name) const {
        for (const Entry& entry : entries) {
            if (std::find(entry.names.begin(), entry.names.end(), name) != entry.names.end()) return &entry;
        }
        return nullptr;
    }

    // -h, --help and --version close the list.
    void DeclareHelpAndVersion() {
        if (help != nullptr) return;
        Entry& helpEntry = Declare("-h,--help", "", "print this and exit");
        helpEntry.option = app.set_help_flag(CliNames(helpEntry), helpEntry.help);
        help = &helpEntry;
        Entry& versionEntry = Declare("--version", "", "print the version and exit");
        versionEntry.option = app.add_flag(CliNames(versionEntry), versionEntry.help);
        versionFlag = &versionEntry;
    }

    // The arguments as CLI11 takes them: --opt=VALUE split in two, so that
    // an empty VALUE is a value too; GDAL-style names in CLI11's spelling,
    // which is not one of the program's.
    bool Words(const std::vector<std::string>& args, std::vector<std::string>& words, std::string& mistake) const {
        for (const std::string& arg : args) {
            const auto gdal = cliWords.find(arg);
            if (gdal != cliWords.end()) {
                words.push_back(gdal->second);
                continue;
            }
            const size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            if (name.size() <= 2 || name.rfind("--", 0) != 0) {
                words.push_back(arg);
                continue;
            }
            const Entry* entry = Typed(name);
            if (entry == nullptr && Typed(name.substr(1)) != nullptr) {
                mistake = "unknown option '" + name + "'";
                return false;
            }
            if (equals == std::string::npos) {
                words.push_back(arg);
            } else if (entry != nullptr && entry->value.empty()) {
                mistake = name + " takes no value";
                return false;
            } else {
                words.push_back(name);
                words.push_back(arg.substr(equals + 1));
            }
        }
        return true;
    }

    // One line for what CLI11 refused.
    std::string Explain(const CLI::ParseError& error) const {
        if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
            bool options = true;  // none follow "--"
            for (const std::string& word : app.remaining()) {
                if (word == "--") {
                    options = false;
                    continue;
                }
                const bool option = options && word.size() > 1 && word[0] == '-';
                return (option ? "unknown option '" : "unexpected argument '") + word + "'";
            }
        }
        if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
            for (const Entry& entry : entries) {
                if (std::string(error.what()).rfind(entry.option->get_name() + ":", 0) != 0) continue;
                const size_t words = entry.Words();
                return entry.Name() + (words == 1 ? " needs a value" : " needs " + std::to_string(words) + " values");
            }
        }
        return error.what();
    }

    std::vector<std::string> UsageForms() const {
        unsigned forms = 0;
        for (const Entry& entry : entries) forms |= entry.declaration.usageForms;
        std::vector<std::string> lines;
        for (unsigned bit = 1; bit != 0 && (bit == 1 || bit <= forms); bit <<= 1) {
            if (forms != 0 && (forms & bit) == 0) continue;
            std::string line;
            for (const Entry& entry : entries) {
                if (!entry.declaration.required && (entry.declaration.usageForms & bit) == 0) continue;
                line += entry.Name() + (entry.value.empty() ? "" : " " + entry.value) + " ";
            }
            lines.push_back(line + "[OPTION]...");
        }
        lines.push_back(help->Name() + " | " + versionFlag->Name());
        return lines;
    }

    std::string Help() const {
        const bool gdalStyle = !cliWords.empty();
        const std::string rules = "Options take their value as --opt VALUE or --opt=VALUE" +
                                  std::string(gdalStyle ? " (with one dash: -opt VALUE)." : ".");
        return LayOutHelp(HelpText{program, UsageForms(), description, Groups(), rules + "\n" + epilogue});
    }

    std::vector<HelpGroup> Groups() const {
        std::vector<HelpGroup> groups;
        for (const Entry& entry : entries) {
            auto group = std::find_if(groups.begin(), groups.end(),
                                      [&entry](const HelpGroup& g) { return g.heading == entry.group; });
            if (group == groups.end()) group = groups.insert(groups.end(), HelpGroup{entry.group, {}});
            group->options.push_back(HelpOption{Joined(entry.names, ", "), entry.value, entry.help});
        }
        return groups;
    }
};

CommandLine::CommandLine(std::string program, std::string version, std::string description, std::string epilogue)
    : declarations(std::make_unique<Declarations>()) {
    Declarations& d = *declarations;
    d.program = std::move(program);
    d.version = std::move(version);
    d.description = std::move(description);
    d.epilogue = std::move(epilogue);
    d.app.name(d.program);
    d.app.set_help_flag();
}

CommandLine::~CommandLine() = default;

void CommandLine::Group(const std::string& heading) {
    declarations->group = heading;
}

OptionDeclaration& CommandLine::Option(const std::string& names, const std::string& value, const std::string& help,
                                       OptionReader read) {
    Declarations& d = *declarations;
    Declarations::Entry& entry = d.Declare(names, value, help);
    const std::string name = entry.Name();
    const size_t words = entry.Words();
    const auto take = [name, words, read = std::move(read)](const CLI::results_t& given) {
        if (words == 1 && given.size() == 1 && given[0].empty()) throw CLI::ValidationError(name + " needs a value");
        const std::string wants = read(given);
        if (!wants.empty()) throw CLI::ValidationError(name + " wants " + wants + ", not '" + Joined(given, " ") + "'");
        return true;
    };
    // Read as it comes, so that the first mistake on the line is the one
    // refused, and a repeated option is read each time.
    entry.option = d.app.add_option(d.CliNames(entry), take, help)
                       ->type_size(static_cast<int>(words))
                       ->type_name(value)
                       ->trigger_on_parse();
    if (entry.Repeated()) entry.option->expected(CLI::detail::expected_max_vector_size);
    return entry.declaration;
}

OptionDeclaration& CommandLine::Flag(const std::string& names, const std::string& help, bool& set) {
    Declarations& d = *declarations;
    Declarations::Entry& entry = d.Declare(names, "", help);
    entry.option = d.app.add_flag_callback(d.CliNames(entry), [&set] { set = true; }, help);
    return entry.declaration;
}

CommandLineOutcome CommandLine::Parse(const std::vector<std::string>& args) {
    Declarations& d = *declarations;
    d.DeclareHelpAndVersion();
    // --help and --version win over any mistake wherever they stand.
    for (const std::string& arg : args) {
        if (d.Typed(arg) == d.help) return CommandLineOutcome{CommandLineOutcome::Next::Print, d.Help()};
        if (d.Typed(arg) == d.versionFlag) {
            return CommandLineOutcome{CommandLineOutcome::Next::Print, d.program + " " + d.version + "\n"};
        }
    }
    CommandLineOutcome outcome;
    outcome.next = CommandLineOutcome::Next::Refuse;
    std::vector<std::string> words;
    if (!d.Words(args, words, outcome.text)) return outcome;
    std::reverse(words.begin(), words.end());
    try {
        d.app.parse(words);
    } catch (const CLI::CallForHelp&) {  // among one-letter flags: -qh
        return CommandLineOutcome{CommandLineOutcome::Next::Print, d.Help()};
    } catch (const CLI::ParseError& error) {
        outcome.text = d.Explain(error);
        return outcome;
    }
    for (const Declarations::Entry& entry : d.entries) {
        if (entry.declaration.required && entry.option->count() == 0) {
            outcome.text = entry.Name() + " is missing";
            return outcome;
        }
    }
    return CommandLineOutcome{};
}
