#include "serve/wms/wms_documents.h"

#include <cmath>

#include "serve/description/xml_text.h"
#include "serve/drawing/image_formats.h"
#include "serve/drawing/map_grid.h"

namespace {

// The tiled world in EPSG:3857: the square of the Mercator world.
std::string MercatorBox(const char* attribute) {
    const std::string low = ShortestNumber(-kMercatorHalfWorld), high = ShortestNumber(kMercatorHalfWorld);
    return "<BoundingBox " + std::string(attribute) + "=\"EPSG:3857\" minx=\"" + low + "\" miny=\"" + low +
           "\" maxx=\"" + high + "\" maxy=\"" + high + "\"/>\n";
}

std::string Bounds130() {
    const std::string w = ShortestNumber(kCoverageWest), e = ShortestNumber(kCoverageEast);
    const std::string s = ShortestNumber(kCoverageSouth), n = ShortestNumber(kCoverageNorth);
    return "<EX_GeographicBoundingBox><westBoundLongitude>" + w + "</westBoundLongitude><eastBoundLongitude>" + e +
           "</eastBoundLongitude><southBoundLatitude>" + s + "</southBoundLatitude><northBoundLatitude>" + n +
           "</northBoundLatitude></EX_GeographicBoundingBox>\n"
           "<BoundingBox CRS=\"CRS:84\" minx=\"" + w + "\" miny=\"" + s + "\" maxx=\"" + e + "\" maxy=\"" + n + "\"/>\n"
           // EPSG:4326 in 1.3.0 is latitude first, so x is latitude here.
           "<BoundingBox CRS=\"EPSG:4326\" minx=\"" + s + "\" miny=\"" + w + "\" maxx=\"" + n + "\" maxy=\"" + e + "\"/>\n" +
           MercatorBox("CRS");
}

std::string Bounds111() {
    const std::string w = ShortestNumber(kCoverageWest), e = ShortestNumber(kCoverageEast);
    const std::string s = ShortestNumber(kCoverageSouth), n = ShortestNumber(kCoverageNorth);
    return "<LatLonBoundingBox minx=\"" + w + "\" miny=\"" + s + "\" maxx=\"" + e + "\" maxy=\"" + n + "\"/>\n"
           "<BoundingBox SRS=\"EPSG:4326\" minx=\"" + w + "\" miny=\"" + s + "\" maxx=\"" + e + "\" maxy=\"" + n + "\"/>\n" +
           MercatorBox("SRS");
}

std::string Operation(const char* name, const std::string& formats, const std::string& url) {
    return "<" + std::string(name) + ">" + formats +
           "<DCPType><HTTP><Get><OnlineResource xmlns:xlink=\"http://www.w3.org/1999/xlink\" xlink:type=\"simple\" "
           "xlink:href=\"" + url + "\"/></Get></HTTP></DCPType></" + name + ">\n";
}

std::string Element(const char* name, const std::string& text) {
    return "<" + std::string(name) + ">" + EscapeXml(text) + "</" + name + ">";
}

std::string Link(const std::string& url) {
    return "<OnlineResource xmlns:xlink=\"http://www.w3.org/1999/xlink\" xlink:type=\"simple\" xlink:href=\"" +
           EscapeXml(url) + "\"/>";
}

std::string Attribution(const LayerDescription& layer) {
    if (layer.attribution.empty()) return "";
    return "<Attribution>" + Element("Title", layer.attribution) +
           (layer.attributionUrl.empty() ? "" : Link(layer.attributionUrl)) + "</Attribution>\n";
}

// The scales the layers suit; 1.1.1 gives them as the diagonal of a pixel
// in metres.
std::string Scales(const ServiceDescription& d, bool v130) {
    const double low = MinScaleDenominator(d), high = MaxScaleDenominator(d);
    if (v130) {
        return Element("MinScaleDenominator", ShortestNumber(low)) + "\n" +
               Element("MaxScaleDenominator", ShortestNumber(high)) + "\n";
    }
    const double diagonal = 0.00028 * std::sqrt(2.0);
    return "<ScaleHint min=\"" + ShortestNumber(low * diagonal) + "\" max=\"" + ShortestNumber(high * diagonal) +
           "\"/>\n";
}

std::string Layers(const ServiceDescription& d, WmsVersion version) {
    const bool v130 = version == WmsVersion::V130;
    std::string text = "<Layer>\n" + Element("Title", d.title) + "\n";
    text += v130 ? "<CRS>CRS:84</CRS>\n<CRS>EPSG:4326</CRS>\n<CRS>EPSG:3857</CRS>\n"
                 : "<SRS>EPSG:4326</SRS>\n<SRS>EPSG:3857</SRS>\n";
    text += v130 ? Bounds130() : Bounds111();
    for (const LayerDescription& layer : d.layers) {
        text += "<Layer queryable=\"0\" opaque=\"1\">\n" + Element("Name", layer.name) + "\n" +
                Element("Title", layer.title) + "\n" + Element("Abstract", layer.abstract) + "\n";
        text += v130 ? Bounds130() : Bounds111();
        text += Attribution(layer);
        text += "<Style><Name>default</Name><Title>Default</Title></Style>\n";
        text += Scales(d, v130) + "</Layer>\n";
    }
    return text + "</Layer>\n";
}

std::string Contact(const ServiceContact& c) {
    if (c.Empty()) return "";
    std::string text = "<ContactInformation>\n";
    if (!c.person.empty() || !c.organization.empty()) {
        text += "<ContactPersonPrimary>" + Element("ContactPerson", c.person) +
                Element("ContactOrganization", c.organization) + "</ContactPersonPrimary>\n";
    }
    if (!c.position.empty()) text += Element("ContactPosition", c.position) + "\n";
    if (!c.phone.empty()) text += Element("ContactVoiceTelephone", c.phone) + "\n";
    if (!c.email.empty()) text += Element("ContactElectronicMailAddress", c.email) + "\n";
    return text + "</ContactInformation>\n";
}

}  // namespace

std::string CapabilitiesDocument(WmsVersion version, const std::string& serviceUrl,
                                 const ServiceDescription& description) {
    const bool v130 = version == WmsVersion::V130;
    const std::string url = EscapeXml(serviceUrl);
    const std::string capabilitiesFormat =
        v130 ? "<Format>text/xml</Format>" : "<Format>application/vnd.ogc.wms_xml</Format>";
    std::string mapFormats;
    for (const ImageFormatEntry& format : ImageFormats()) mapFormats += Element("Format", format.mediaType);
    const std::string exceptionFormat = v130 ? "XML" : "application/vnd.ogc.se_xml";
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (v130) {
        text += "<WMS_Capabilities version=\"1.3.0\" xmlns=\"http://www.opengis.net/wms\" "
                "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                "xsi:schemaLocation=\"http://www.opengis.net/wms "
                "http://schemas.opengis.net/wms/1.3.0/capabilities_1_3_0.xsd\">\n";
    } else {
        text += "<!DOCTYPE WMT_MS_Capabilities SYSTEM "
                "\"http://schemas.opengis.net/wms/1.1.1/WMS_MS_Capabilities.dtd\"\n"
                " [\n <!ELEMENT VendorSpecificCapabilities EMPTY>\n ]>\n"
                "<WMT_MS_Capabilities version=\"1.1.1\">\n";
    }
    text += "<Service>\n<Name>" + std::string(v130 ? "WMS" : "OGC:WMS") + "</Name>\n" +
            Element("Title", description.title) + "\n" + Element("Abstract", description.abstract) + "\n";
    if (!description.keywords.empty()) {
        text += "<KeywordList>";
        for (const std::string& keyword : description.keywords) text += Element("Keyword", keyword);
        text += "</KeywordList>\n";
    }
    text += Link(serviceUrl) + "\n" + Contact(description.contact);
    text += Element("Fees", description.fees) + "\n" + Element("AccessConstraints", description.accessConstraints) + "\n";
    if (v130) {
        text += "<LayerLimit>" + std::to_string(kMaxLayersPerRequest) + "</LayerLimit>\n<MaxWidth>" +
                std::to_string(kMaxImageWidth) + "</MaxWidth>\n<MaxHeight>" + std::to_string(kMaxImageHeight) +
                "</MaxHeight>\n";
    }
    text += "</Service>\n<Capability>\n<Request>\n";
    text += Operation("GetCapabilities", capabilitiesFormat, url);
    text += Operation("GetMap", mapFormats, url);
    text += "</Request>\n<Exception><Format>" + exceptionFormat + "</Format></Exception>\n";
    text += Layers(description, version);
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
