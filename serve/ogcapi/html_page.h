#pragma once

#include <nlohmann/json.hpp>
#include <string>

// A document of the OGC API as a small HTML 5 page: its title, its
// description, its links as anchors (a link template as text), and every
// other member as nested lists, all of it escaped as XML escapes text.
std::string HtmlPage(const std::string& title, const nlohmann::ordered_json& document);
