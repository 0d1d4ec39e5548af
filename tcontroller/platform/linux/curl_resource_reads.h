#pragma once

#include <string>

#include "tcontroller/platform/resource_reads.h"

namespace tarvo {

// Whole-resource reads over libcurl: http and https (redirects followed between
// those two only, never into file:), and local file addresses. A reply other
// than 2xx, a transfer slower than the minimum rate, a truncated transfer and a
// body over the size cap are failures; the result is always the whole body or
// nothing.
//
// Every call uses its own easy handle, so any number of threads may read at once.
class CurlResourceReads : public ResourceReads {
  public:
    explicit CurlResourceReads(ReadLimits limits = {});

    bool isValidAddress(const std::string& address) const override;
    using ResourceReads::readText;
    Result<std::string> readText(const std::string& address) override;
    // With `mapped` and a file address the file is mapped read-only and copied;
    // for other addresses `mapped` changes nothing.
    Result<Bytes> readBytes(const std::string& address, bool mapped = false) override;
    // Reports progress through libcurl's transfer-info callback.
    Download download(const std::string& address, const ReadProgress& progress) override;

  protected:
    // The cap is enforced while the body arrives: nothing over it is kept.
    Result<std::string> readTextUpTo(const std::string& address, std::size_t maxBytes) override;

  private:
    ReadLimits limits_;
};

}  // namespace tarvo
