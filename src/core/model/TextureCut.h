#pragma once
// Another image for a textured model: a model's texture was cut from a
// region of a larger source image, recorded in its texture descriptor file;
// a new image is cut the same way before it is applied. No user interface
// here: the frame's command asks and reports.
#include <string>

namespace texture {

// "SourceROI" of a descriptor file: X, Y, W, H, each the leading integer of
// its text (empty or not a number: 0), saturated at the int limits.
struct SourceRegion {
    int x = 0, y = 0, w = 0, h = 0;
};
SourceRegion ReadSourceRegion(const std::string& descriptorFile);

enum class CutStatus {
    AsIs,         // the model's own texture, or no recorded texture: apply the image unchanged
    Cut,          // the region was cut into a temporary image
    Unloadable,   // not an image, or one too large to decode
    NotSupported, // no source region recorded (W or H is 0)
    Incompatible, // the image does not contain the region (or the region is negative)
    WriteFailed,  // the cut could not be written to the temporary folder
};

// The image to apply for `imagePath` on the model whose descriptor file is
// `descriptorFile`. The temporary cut (a lossless PNG in the system's
// temporary folder, unique to this run) is removed when this goes.
class PreparedTexture {
public:
    PreparedTexture(const std::string& descriptorFile, const std::string& imagePath);
    ~PreparedTexture();
    PreparedTexture(const PreparedTexture&) = delete;
    PreparedTexture& operator=(const PreparedTexture&) = delete;

    CutStatus Status() const { return m_status; }
    // What to hand to ApplyTexture: the image itself or the cut; empty on failure.
    const std::string& ImageToApply() const { return m_apply; }
    // Why it failed, in a few words (for WriteFailed and Unloadable).
    const std::string& Reason() const { return m_reason; }
    // The temporary file (empty unless Cut); gone once this is destroyed.
    const std::string& TemporaryFile() const { return m_temporary; }

private:
    CutStatus m_status = CutStatus::Unloadable;
    std::string m_apply;
    std::string m_reason;
    std::string m_temporary;
};

} // namespace texture
