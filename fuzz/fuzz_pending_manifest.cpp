// Any bytes as a pending release's manifest: what is read is written back to
// the very same text (a manifest has one spelling), and what is written is read
// back to the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "tcontroller/update/pending_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::optional<tarvo::PendingManifest> manifest = tarvo::parsePendingManifest(input);
    if (!manifest) {
        return 0;
    }
    const std::string text = tarvo::formatPendingManifest(*manifest);
    const std::optional<tarvo::PendingManifest> again = tarvo::parsePendingManifest(text);
    if (!again || again->version != manifest->version ||
        again->imageSha256 != manifest->imageSha256 ||
        again->firmwareSha256 != manifest->firmwareSha256) {
        std::abort();
    }
    // The lines may come in any order, but nothing else may differ.
    if (text.size() != input.size()) {
        std::abort();
    }
    return 0;
}
