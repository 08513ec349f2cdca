#include "FiscalArchive.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "SatFunctions.h"
#include "hub/Journal.h"

namespace hub {

namespace {

// The replies that carry a fiscal document: the result code, and the fields
// of the document (Base64) and of the device's time stamp (YYYYMMDDhhmmss).
constexpr char SALE_ISSUED[] = "06000";
constexpr char SALE_CANCELLED[] = "07000";
constexpr int DOCUMENT_FIELD = 6;
constexpr int STAMP_FIELD = 7;
constexpr std::size_t KEY_DIGITS = 44;

bool decodeBase64(const std::string& text, std::string& bytes) {
    if (text.empty() || text.size() % 4 != 0) {
        return false;
    }
    bytes.resize(text.size() / 4 * 3);
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&bytes[0]),
                                       reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0) {
        return false;
    }
    // EVP_DecodeBlock counts the padding as bytes.
    const std::size_t padding = text.compare(text.size() - 2, 2, "==") == 0 ? 2
                                : text.back() == '='                        ? 1
                                                                            : 0;
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return true;
}

// The Id attribute of the document's infCFe element: "CFe" and its key.
std::string documentId(const std::string& xml) {
    const std::string::size_type element = xml.find("<infCFe ");
    const std::string::size_type end = xml.find('>', element);
    const std::string::size_type id = xml.find(" Id=\"", element);
    if (element == std::string::npos || end == std::string::npos || id == std::string::npos ||
        id > end) {
        return "";
    }
    const std::string value = xml.substr(id + 5, 3 + KEY_DIGITS);
    const bool wellFormed = value.size() == 3 + KEY_DIGITS && value.compare(0, 3, "CFe") == 0 &&
                            value.find_first_not_of("0123456789", 3) == std::string::npos &&
                            xml.compare(id + 5 + value.size(), 1, "\"") == 0;
    return wellFormed ? value : "";
}

bool writeNew(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written =
        ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
        ::fsync(fd) == 0;
    const int failure = errno;
    ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
        errno = failure;
    }
    return written;
}

}  // namespace

bool exportDocuments(Journal& journal, const std::string& from, const std::string& to,
                     const std::string& directory, std::FILE* out) {
    int written = 0;
    int skipped = 0;
    const bool read = journal.forEachReply([&](const CallRecord& call) {
        const std::string result = replyField(*call.reply, 1);
        const std::string day = replyField(*call.reply, STAMP_FIELD).substr(0, 8);
        if ((result != SALE_ISSUED && result != SALE_CANCELLED) ||
            call.function == "TesteFimAFim" || day < from || day > to) {
            return;
        }
        std::string xml;
        const std::string id =
            decodeBase64(replyField(*call.reply, DOCUMENT_FIELD), xml) ? documentId(xml) : "";
        const std::string name = id + ".xml";
        if (id.empty()) {
            std::fprintf(out, "skipped sessao %06d (%s): its reply holds no readable CF-e\n",
                         call.session, call.function.c_str());
            ++skipped;
        } else if (!writeNew(directory + "/" + name, xml)) {
            std::fprintf(out, "skipped %s (sessao %06d): %s\n", name.c_str(), call.session,
                         errno == EEXIST ? "already there" : std::strerror(errno));
            ++skipped;
        } else {
            std::fprintf(out, "wrote %s (%s, sessao %06d, %s)\n", name.c_str(),
                         call.function.c_str(), call.session, day.c_str());
            ++written;
        }
    });
    std::fprintf(out, "%d written, %d skipped\n", written, skipped);
    return read;
}

}  // namespace hub
