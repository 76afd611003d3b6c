#include "serve/wmts/wmts_capabilities.h"

#include <cmath>

#include "serve/description/xml_text.h"
#include "serve/drawing/image_formats.h"
#include "serve/drawing/map_grid.h"
#include "serve/drawing/tile_matrix_sets.h"

namespace {

std::string Element(const char* name, const std::string& text) {
    return "<" + std::string(name) + ">" + EscapeXml(text) + "</" + name + ">";
}

std::string ServiceIdentification(const ServiceDescription& d) {
    std::string text = "<ows:ServiceIdentification>\n" + Element("ows:Title", d.title) + "\n" +
                       Element("ows:Abstract", d.abstract) + "\n";
    if (!d.keywords.empty()) {
        text += "<ows:Keywords>";
        for (const std::string& keyword : d.keywords) text += Element("ows:Keyword", keyword);
        text += "</ows:Keywords>\n";
    }
    text += "<ows:ServiceType>OGC WMTS</ows:ServiceType>\n<ows:ServiceTypeVersion>1.0.0</ows:ServiceTypeVersion>\n" +
            Element("ows:Fees", d.fees) + "\n" + Element("ows:AccessConstraints", d.accessConstraints) +
            "\n</ows:ServiceIdentification>\n";
    return text;
}

std::string ServiceProvider(const ServiceDescription& d) {
    const ServiceContact& c = d.contact;
    std::string text = "<ows:ServiceProvider>\n" +
                       Element("ows:ProviderName", c.organization.empty() ? d.title : c.organization) + "\n";
    text += "<ows:ServiceContact>";
    if (!c.person.empty()) text += Element("ows:IndividualName", c.person);
    if (!c.position.empty()) text += Element("ows:PositionName", c.position);
    if (!c.phone.empty() || !c.email.empty()) {
        text += "<ows:ContactInfo>";
        if (!c.phone.empty()) text += "<ows:Phone>" + Element("ows:Voice", c.phone) + "</ows:Phone>";
        if (!c.email.empty()) text += "<ows:Address>" + Element("ows:ElectronicMailAddress", c.email) + "</ows:Address>";
        text += "</ows:ContactInfo>";
    }
    return text + "</ows:ServiceContact>\n</ows:ServiceProvider>\n";
}

std::string Operation(const char* name, const std::string& kvpUrl, const std::string& restBase) {
    return "<ows:Operation name=\"" + std::string(name) + "\"><ows:DCP><ows:HTTP>"
           "<ows:Get xlink:href=\"" + kvpUrl + "\"><ows:Constraint name=\"GetEncoding\"><ows:AllowedValues>"
           "<ows:Value>KVP</ows:Value></ows:AllowedValues></ows:Constraint></ows:Get>"
           "<ows:Get xlink:href=\"" + restBase + "/\"><ows:Constraint name=\"GetEncoding\"><ows:AllowedValues>"
           "<ows:Value>RESTful</ows:Value></ows:AllowedValues></ows:Constraint></ows:Get>"
           "</ows:HTTP></ows:DCP></ows:Operation>\n";
}

std::string Layer(const LayerDescription& layer, const std::string& restBase) {
    std::string text = "<Layer>\n" + Element("ows:Title", layer.title) + "\n" + Element("ows:Abstract", layer.abstract) +
                       "\n<ows:WGS84BoundingBox><ows:LowerCorner>" + ShortestNumber(kCoverageWest) + " " +
                       ShortestNumber(kCoverageSouth) + "</ows:LowerCorner><ows:UpperCorner>" + ShortestNumber(kCoverageEast) + " " +
                       ShortestNumber(kCoverageNorth) + "</ows:UpperCorner></ows:WGS84BoundingBox>\n" +
                       Element("ows:Identifier", layer.name) +
                       "\n<Style isDefault=\"true\"><ows:Title>Default</ows:Title>"
                       "<ows:Identifier>default</ows:Identifier></Style>\n";
    for (const ImageFormatEntry& format : ImageFormats()) text += Element("Format", format.mediaType) + "\n";
    for (const TileMatrixSet& set : TileMatrixSets()) {
        text += "<TileMatrixSetLink>" + Element("TileMatrixSet", set.identifier) + "</TileMatrixSetLink>\n";
    }
    for (const ImageFormatEntry& format : ImageFormats()) {
        text += "<ResourceURL format=\"" + std::string(format.mediaType) + "\" resourceType=\"tile\" template=\"" +
                restBase + "/" + layer.name + "/{Style}/{TileMatrixSet}/{TileMatrix}/{TileRow}/{TileCol}." +
                format.extension + "\"/>\n";
    }
    return text + "</Layer>\n";
}

std::string MatrixSet(const TileMatrixSet& set, int32_t highestLevel) {
    std::string text = "<TileMatrixSet>\n" + Element("ows:Identifier", set.identifier) + "\n" +
                       Element("ows:SupportedCRS", set.crs) + "\n";
    if (set.wellKnownScaleSet != nullptr) text += Element("WellKnownScaleSet", set.wellKnownScaleSet) + "\n";
    const std::string corner = ShortestNumber(set.left) + " " + ShortestNumber(set.top);
    for (int32_t level = 0; level <= highestLevel; ++level) {
        text += "<TileMatrix>" + Element("ows:Identifier", std::to_string(level)) +
                Element("ScaleDenominator", ShortestNumber(std::ldexp(set.level0Scale, -level))) +
                Element("TopLeftCorner", corner) + Element("TileWidth", std::to_string(set.tileSize)) +
                Element("TileHeight", std::to_string(set.tileSize)) +
                Element("MatrixWidth", std::to_string(MatrixWidth(set, level))) +
                Element("MatrixHeight", std::to_string(MatrixHeight(set, level))) + "</TileMatrix>\n";
    }
    return text + "</TileMatrixSet>\n";
}

}  // namespace

std::string WmtsCapabilitiesDocument(const ServiceDescription& d, const std::string& kvpUrlText,
                                     const std::string& restBaseText) {
    const std::string kvpUrl = EscapeXml(kvpUrlText), restBase = EscapeXml(restBaseText);
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Capabilities xmlns=\"http://www.opengis.net/wmts/1.0\" xmlns:ows=\"http://www.opengis.net/ows/1.1\" "
        "xmlns:xlink=\"http://www.w3.org/1999/xlink\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.opengis.net/wmts/1.0 "
        "http://schemas.opengis.net/wmts/1.0/wmtsGetCapabilities_response.xsd\" version=\"1.0.0\">\n";
    text += ServiceIdentification(d) + ServiceProvider(d);
    text += "<ows:OperationsMetadata>\n" + Operation("GetCapabilities", kvpUrl, restBase) +
            Operation("GetTile", kvpUrl, restBase) + "</ows:OperationsMetadata>\n<Contents>\n";
    for (const LayerDescription& layer : d.layers) text += Layer(layer, restBase);
    const int32_t highest = HighestTileMatrix(d.maxZoom);
    for (const TileMatrixSet& set : TileMatrixSets()) text += MatrixSet(set, highest);
    text += "</Contents>\n<ServiceMetadataURL xlink:href=\"" + restBase + "/WMTSCapabilities.xml\"/>\n</Capabilities>\n";
    return text;
}

std::string OwsExceptionDocument(const char* code, const std::string& locator, const std::string& message) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<ows:ExceptionReport xmlns:ows=\"http://www.opengis.net/ows/1.1\" version=\"1.1.0\" xml:lang=\"en\">\n"
           "<ows:Exception exceptionCode=\"" + std::string(code) + "\" locator=\"" + EscapeXml(locator) + "\">" +
           Element("ows:ExceptionText", message) + "</ows:Exception>\n</ows:ExceptionReport>\n";
}
