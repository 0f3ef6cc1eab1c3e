// The body of a WMS error answer, read as a requestor reads a reply that is not an image: the
// texts of the report's ServiceException elements, one per element in document order, each
// cut to the longest a message may be.
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <lmxmaps/Wms.h>
#include <lmxmaps/host/DOMParser.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const DOMDocument document =
        DOMParser::Parse(QByteArray(reinterpret_cast<const char*>(data), int(size)));
    const std::vector<TString> messages = WmsConnection::ParseWMSExceptions(document);

    const DOMElement report = document.FindFirst(QStringLiteral("ServiceExceptionReport"));
    const DOMElementChildren exceptions = report.GetChildren(QStringLiteral("ServiceException"));
    if (messages.size() != exceptions.Count())
        std::abort();
    auto exception = exceptions.begin();
    for (const TString& message : messages) {
        const TString text = exception->GetText();
        if (message.size() > WmsConnection::kMaxExceptionLength || !text.startsWith(message) ||
            (message.size() < text.size() && message.size() != WmsConnection::kMaxExceptionLength))
            std::abort();
        ++exception;
    }
    return 0;
}
