#include "serve/ogcapi/html_page.h"

#include "serve/description/xml_text.h"

namespace {

using Json = nlohmann::ordered_json;

const char* const kStyle =
    "body{font-family:sans-serif;max-width:60em;margin:1em auto;padding:0 1em;line-height:1.4}"
    "dt{font-weight:bold}dd{margin:0 0 .4em 1.5em}small{color:#555}code{word-break:break-all}";

bool IsLink(const Json& value) {
    return value.is_object() && value.contains("href") && value["href"].is_string();
}

std::string Text(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

void AppendLink(const Json& link, std::string& html) {
    const std::string href = EscapeXml(link["href"].get<std::string>());
    const std::string label = EscapeXml(link.contains("title") ? Text(link["title"]) : Text(link.value("rel", "link")));
    const bool templated = link.value("templated", false);
    html += "<li>" + (templated ? label + ": <code>" + href + "</code>" : "<a href=\"" + href + "\">" + label + "</a>");
    std::string about = link.contains("rel") ? Text(link["rel"]) : "";
    if (link.contains("type")) about += (about.empty() ? "" : ", ") + Text(link["type"]);
    if (!about.empty()) html += " <small>" + EscapeXml(about) + "</small>";
    html += "</li>\n";
}

void AppendValue(const Json& value, std::string& html);

// An object's members as a definition list; its title, when it has one,
// goes before them (the page's own heading and first paragraph say the
// document's title and description).
void AppendMembers(const Json& object, std::string& html, bool top) {
    const bool titled = object.contains("title") && object["title"].is_string();
    if (titled && !top) html += "<strong>" + EscapeXml(object["title"].get<std::string>()) + "</strong>\n";
    html += "<dl>\n";
    for (const auto& [key, value] : object.items()) {
        if ((titled && key == "title") || (top && key == "description")) continue;
        html += "<dt>" + EscapeXml(key) + "</dt><dd>";
        AppendValue(value, html);
        html += "</dd>\n";
    }
    html += "</dl>\n";
}

void AppendValue(const Json& value, std::string& html) {
    if (value.is_object()) {
        AppendMembers(value, html, false);
    } else if (value.is_array() && !value.empty() && IsLink(value[0])) {
        html += "<ul>\n";
        for (const Json& link : value) {
            if (IsLink(link)) AppendLink(link, html);
        }
        html += "</ul>\n";
    } else if (value.is_array() && !value.empty() && (value[0].is_object() || value[0].is_array())) {
        html += "<ol>\n";
        for (const Json& item : value) {
            html += "<li>";
            AppendValue(item, html);
            html += "</li>\n";
        }
        html += "</ol>\n";
    } else if (value.is_array()) {
        std::string items;
        for (const Json& item : value) items += (items.empty() ? "" : ", ") + Text(item);
        html += EscapeXml(items);
    } else {
        html += EscapeXml(Text(value));
    }
}

}  // namespace

std::string HtmlPage(const std::string& title, const nlohmann::ordered_json& document) {
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"utf-8\"><title>" + EscapeXml(title) +
                       "</title><style>" + kStyle + "</style></head>\n<body>\n<h1>" + EscapeXml(title) + "</h1>\n";
    if (document.contains("description") && document["description"].is_string()) {
        html += "<p>" + EscapeXml(document["description"].get<std::string>()) + "</p>\n";
    }
    AppendMembers(document, html, true);
    return html + "</body>\n</html>\n";
}
