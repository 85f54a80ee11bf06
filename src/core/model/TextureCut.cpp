#include "core/model/TextureCut.h"

#include "core/common/CheckedFile.h"
#include "core/common/ImageHeader.h"
#include "core/common/ProfileFile.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace texture {

namespace {

// atoi's reading without its overflow: the leading integer, saturated.
int LeadingInt(const std::string& text)
{
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

std::string TemporaryFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp == '/' ? std::string(tmp) : std::string("/tmp");
}

} // namespace

SourceRegion ReadSourceRegion(const std::string& descriptorFile)
{
    SourceRegion r;
    r.x = LeadingInt(profile::GetString(descriptorFile, "SourceROI", "X", "", 256));
    r.y = LeadingInt(profile::GetString(descriptorFile, "SourceROI", "Y", "", 256));
    r.w = LeadingInt(profile::GetString(descriptorFile, "SourceROI", "W", "", 256));
    r.h = LeadingInt(profile::GetString(descriptorFile, "SourceROI", "H", "", 256));
    return r;
}

PreparedTexture::PreparedTexture(const std::string& descriptorFile, const std::string& imagePath)
{
    // Decoders allocate what the header claims; judge it first.
    const std::string undecodable = image::CheckDecodable(imagePath);
    if (!undecodable.empty()) {
        m_reason = undecodable;
        return;
    }
    cv::Mat image;
    try {
        image = cv::imread(imagePath, cv::IMREAD_COLOR);
    } catch (const cv::Exception& e) {
        m_reason = e.what();
    }
    if (image.empty()) {
        if (m_reason.empty())
            m_reason = "not an image the program reads";
        return;
    }

    // The recorded texture name, with the separators of this platform.
    std::string own = profile::GetString(descriptorFile, "Texture", "File", "", 1024);
    for (char& c : own)
        if (c == '\\')
            c = '/';
    if (imagePath.find(own) != std::string::npos) {
        m_status = CutStatus::AsIs;
        m_apply = imagePath;
        return;
    }

    const SourceRegion r = ReadSourceRegion(descriptorFile);
    if (r.w == 0 || r.h == 0) {
        m_status = CutStatus::NotSupported;
        return;
    }
    // The image must hold the whole region; wide arithmetic for huge values.
    if (r.x < 0 || r.y < 0 || r.w < 0 || r.h < 0 || int64_t(r.x) + r.w > image.cols ||
        int64_t(r.y) + r.h > image.rows) {
        m_status = CutStatus::Incompatible;
        return;
    }

    // Lossless, so that swapping textures never wears them down; stored
    // without compression, since the file lives only until it is read.
    std::vector<unsigned char> encoded;
    const std::vector<int> options = {cv::IMWRITE_PNG_COMPRESSION, 0};
    bool encodedOk = false;
    try {
        encodedOk = cv::imencode(".png", image(cv::Rect(r.x, r.y, r.w, r.h)), encoded, options);
    } catch (const cv::Exception& e) {
        m_reason = e.what();
    }
    if (!encodedOk) {
        m_status = CutStatus::WriteFailed;
        if (m_reason.empty())
            m_reason = "the cut could not be encoded";
        return;
    }
    std::string name = TemporaryFolder() + "/quarlon-texture-XXXXXX.png";
    const int fd = ::mkstemps(&name[0], 4);
    if (fd < 0) {
        m_status = CutStatus::WriteFailed;
        m_reason = "cannot create a temporary file in " + TemporaryFolder() + ": " + std::strerror(errno);
        return;
    }
    ::close(fd);
    m_temporary = name;
    if (!WriteWholeFile(m_temporary, reinterpret_cast<const char*>(encoded.data()), encoded.size(), &m_reason)) {
        m_status = CutStatus::WriteFailed;
        return;
    }
    m_status = CutStatus::Cut;
    m_apply = m_temporary;
}

PreparedTexture::~PreparedTexture()
{
    if (!m_temporary.empty())
        std::remove(m_temporary.c_str());
}

} // namespace texture
