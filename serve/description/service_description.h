#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the capabilities documents say about the service and its layers
// beside the grids: titles, abstracts, keywords, who runs it, on what
// terms, and whose data the layers show.
struct ServiceContact {
    std::string person, organization, position, email, phone;
    bool Empty() const {
        return person.empty() && organization.empty() && position.empty() && email.empty() && phone.empty();
    }
};

struct LayerDescription {
    std::string name, title, abstract;
    std::string attribution;     // the credit line; empty when unknown
    std::string attributionUrl;  // where it links to; may be empty
};

struct ServiceDescription {
    std::string title, abstract;
    std::vector<std::string> keywords;
    ServiceContact contact;
    std::string fees, accessConstraints;
    std::vector<LayerDescription> layers;  // in the order of ServedLayers()
    int32_t maxZoom = 21;                  // the tile set's deepest plug-in zoom
};

// The service's own texts: what the bundled layers are, fees and access
// constraints "none", no contact and no credits.
ServiceDescription DefaultServiceDescription(int32_t maxZoom);

// The layer of that name, or null.
const LayerDescription* FindLayerDescription(const ServiceDescription& description, const std::string& name);

// The scale denominators (0.28 mm pixels, EPSG:3857 at the equator) the
// layers suit: from the whole world on one tile down to one zoom past the
// tile set's deepest, where the tiles are enlarged twice.
double MaxScaleDenominator(const ServiceDescription& description);
double MinScaleDenominator(const ServiceDescription& description);
