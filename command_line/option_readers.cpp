#include "command_line/option_readers.h"

#include "host/number_parsing.h"

OptionReader ReadText(std::string& target) {
    return [&target](const std::vector<std::string>& words) {
        target = words[0];
        return std::string();
    };
}

OptionReader ReadWholeNumber(long long low, long long high, std::function<void(long long)> store,
                             const std::string& what) {
    return [low, high, store = std::move(store), what](const std::vector<std::string>& words) {
        long long number = 0;
        if (!ParseWholeNumber(words[0], low, high, number)) {
            return (what.empty() ? "a whole number" : what) + " from " + std::to_string(low) + " to " +
                   std::to_string(high);
        }
        store(number);
        return std::string();
    };
}

std::string ChoiceWanted(const std::vector<std::string>& words) {
    std::string wanted;
    for (size_t i = 0; i < words.size(); ++i) {
        wanted += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
    }
    return wanted;
}
