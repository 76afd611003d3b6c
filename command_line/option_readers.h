#pragma once

#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "command_line/command_line.h"

// Readers for the kinds of values both programs take. Each stores what it
// read only when the whole value is right.

// Any text.
OptionReader ReadText(std::string& target);

// A decimal whole number from `low` to `high`, handed to `store`. `what`
// names it in a refusal ("megabytes from 1 to 65536"); empty: "a whole
// number".
OptionReader ReadWholeNumber(long long low, long long high, std::function<void(long long)> store,
                             const std::string& what = "");

template <typename Number, typename = std::enable_if_t<std::is_arithmetic_v<Number>>>
OptionReader ReadWholeNumber(long long low, long long high, Number& target, const std::string& what = "") {
    return ReadWholeNumber(low, high, [&target](long long n) { target = static_cast<Number>(n); }, what);
}

// One of the listed words, e.g. {{"alpha", NodataStyle::Alpha}, ...}.
std::string ChoiceWanted(const std::vector<std::string>& words);
template <typename Choice>
OptionReader ReadChoice(std::vector<std::pair<std::string, Choice>> choices, Choice& target) {
    return [choices = std::move(choices), &target](const std::vector<std::string>& words) -> std::string {
        std::vector<std::string> listed;
        for (const auto& [word, choice] : choices) {
            if (words[0] == word) {
                target = choice;
                return "";
            }
            listed.push_back(word);
        }
        return ChoiceWanted(listed);
    };
}
