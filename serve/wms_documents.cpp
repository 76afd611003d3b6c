#include "serve/wms_documents.h"

#include <cstdio>
#include <cstdlib>

#include "serve/map_window.h"

namespace {

// The shortest decimal that reads back as the same double.
std::string Number(double value) {
    char text[64];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

struct LayerText {
    const char* name;
    const char* title;
};

const LayerText kLayers[] = {
    {"map", "Map"},
    {"aerial", "Aerial imagery"},
    {"hybrid", "Aerial imagery with roads and names"},
};

std::string Bounds130() {
    const std::string w = Number(kCoverageWest), e = Number(kCoverageEast);
    const std::string s = Number(kCoverageSouth), n = Number(kCoverageNorth);
    return "<EX_GeographicBoundingBox><westBoundLongitude>" + w + "</westBoundLongitude><eastBoundLongitude>" + e +
           "</eastBoundLongitude><southBoundLatitude>" + s + "</southBoundLatitude><northBoundLatitude>" + n +
           "</northBoundLatitude></EX_GeographicBoundingBox>\n"
           "<BoundingBox CRS=\"CRS:84\" minx=\"" + w + "\" miny=\"" + s + "\" maxx=\"" + e + "\" maxy=\"" + n + "\"/>\n"
           // EPSG:4326 in 1.3.0 is latitude first, so x is latitude here.
           "<BoundingBox CRS=\"EPSG:4326\" minx=\"" + s + "\" miny=\"" + w + "\" maxx=\"" + n + "\" maxy=\"" + e + "\"/>\n";
}

std::string Bounds111() {
    const std::string w = Number(kCoverageWest), e = Number(kCoverageEast);
    const std::string s = Number(kCoverageSouth), n = Number(kCoverageNorth);
    return "<LatLonBoundingBox minx=\"" + w + "\" miny=\"" + s + "\" maxx=\"" + e + "\" maxy=\"" + n + "\"/>\n"
           "<BoundingBox SRS=\"EPSG:4326\" minx=\"" + w + "\" miny=\"" + s + "\" maxx=\"" + e + "\" maxy=\"" + n + "\"/>\n";
}

std::string Operation(const char* name, const std::string& formats, const std::string& url) {
    return "<" + std::string(name) + ">" + formats +
           "<DCPType><HTTP><Get><OnlineResource xmlns:xlink=\"http://www.w3.org/1999/xlink\" xlink:type=\"simple\" "
           "xlink:href=\"" + url + "\"/></Get></HTTP></DCPType></" + name + ">\n";
}

std::string Layers(WmsVersion version) {
    const bool v130 = version == WmsVersion::V130;
    std::string text = "<Layer>\n<Title>Zarvo tile service</Title>\n";
    text += v130 ? "<CRS>CRS:84</CRS>\n<CRS>EPSG:4326</CRS>\n" : "<SRS>EPSG:4326</SRS>\n";
    text += v130 ? Bounds130() : Bounds111();
    for (const LayerText& layer : kLayers) {
        text += "<Layer queryable=\"0\" opaque=\"1\">\n<Name>" + std::string(layer.name) + "</Name>\n<Title>" +
                layer.title + "</Title>\n";
        text += v130 ? Bounds130() : Bounds111();
        text += "<Style><Name>default</Name><Title>Default</Title></Style>\n</Layer>\n";
    }
    return text + "</Layer>\n";
}

}  // namespace

std::string EscapeXml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                // Control characters are not allowed in XML 1.0 at all.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    out += '?';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string CapabilitiesDocument(WmsVersion version, const std::string& serviceUrl) {
    const bool v130 = version == WmsVersion::V130;
    const std::string url = EscapeXml(serviceUrl);
    const std::string capabilitiesFormat =
        v130 ? "<Format>text/xml</Format>" : "<Format>application/vnd.ogc.wms_xml</Format>";
    const std::string mapFormats = "<Format>image/png</Format><Format>image/jpeg</Format>";
    const std::string exceptionFormat = v130 ? "XML" : "application/vnd.ogc.se_xml";
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (v130) {
        text += "<WMS_Capabilities version=\"1.3.0\" xmlns=\"http://www.opengis.net/wms\" "
                "xmlns:xlink=\"http://www.w3.org/1999/xlink\">\n";
    } else {
        text += "<WMT_MS_Capabilities version=\"1.1.1\">\n";
    }
    text += "<Service>\n<Name>" + std::string(v130 ? "WMS" : "OGC:WMS") +
            "</Name>\n<Title>Zarvo tile service</Title>\n"
            "<Abstract>The map, aerial and hybrid layers of the Zarvo tile service, drawn by the Zarvo data "
            "plug-in on a longitude/latitude grid.</Abstract>\n"
            "<OnlineResource xmlns:xlink=\"http://www.w3.org/1999/xlink\" xlink:type=\"simple\" xlink:href=\"" +
            url + "\"/>\n";
    if (v130) {
        text += "<LayerLimit>" + std::to_string(kMaxLayersPerRequest) + "</LayerLimit>\n<MaxWidth>" +
                std::to_string(kMaxImageWidth) + "</MaxWidth>\n<MaxHeight>" + std::to_string(kMaxImageHeight) +
                "</MaxHeight>\n";
    }
    text += "</Service>\n<Capability>\n<Request>\n";
    text += Operation("GetCapabilities", capabilitiesFormat, url);
    text += Operation("GetMap", mapFormats, url);
    text += "</Request>\n<Exception><Format>" + exceptionFormat + "</Format></Exception>\n";
    text += Layers(version);
    text += "</Capability>\n";
    text += v130 ? "</WMS_Capabilities>\n" : "</WMT_MS_Capabilities>\n";
    return text;
}

const char* CapabilitiesContentType(WmsVersion version) {
    return version == WmsVersion::V130 ? "text/xml" : "application/vnd.ogc.wms_xml";
}

std::string ExceptionDocument(WmsVersion version, const char* code, const std::string& message) {
    const bool v130 = version == WmsVersion::V130;
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    text += v130 ? "<ServiceExceptionReport version=\"1.3.0\" xmlns=\"http://www.opengis.net/ogc\">\n"
                 : "<ServiceExceptionReport version=\"1.1.1\">\n";
    text += "<ServiceException";
    if (code != nullptr) text += " code=\"" + std::string(code) + "\"";
    text += ">" + EscapeXml(message) + "</ServiceException>\n</ServiceExceptionReport>\n";
    return text;
}

const char* ExceptionContentType(WmsVersion version) {
    return version == WmsVersion::V130 ? "text/xml" : "application/vnd.ogc.se_xml";
}
