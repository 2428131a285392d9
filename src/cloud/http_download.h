// Plain-socket GET of a large file, for the package downloads of USB-disk units: over TLS
// when the URL's scheme is "https", with the system's certificate store.
#pragma once

#include <string>

#include "base/events.h"

namespace orvel {

// Writes the body into a new file at local_path. Stops early, without failing, when the
// event fires. Throws http_exception "_http_download_: ..." for every failure, an answer
// other than 200, a body shorter than its Content-Length or cut inside its chunks and a
// certificate that does not verify included.
void http_download(const std::string& url, const std::string& local_path, event_base& event);
// http_download with up to three retries (5, 10, 15 s on the event), the file removed
// before each; extl_exception 1500 when the event fires.
void http_download_with_retry(const std::string& url, const std::string& local_path,
                              event_base& event);

}  // namespace orvel
