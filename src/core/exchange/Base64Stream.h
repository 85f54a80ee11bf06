#pragma once
// Base64 for the XML writer's inline binary data, byte for byte what VTK's
// own encoder writes, but from a table over whole chunks: VTK's writes four
// characters per stream call, which made encoding cost more than deflating.
#include <vtkOutputStream.h>

#include <cstddef>

class vtkFastBase64OutputStream : public vtkOutputStream {
public:
    static vtkFastBase64OutputStream* New();
    vtkTypeMacro(vtkFastBase64OutputStream, vtkOutputStream);

    int StartWriting() override;
    int Write(void const* data, size_t length) override;
    int EndWriting() override;

protected:
    vtkFastBase64OutputStream() = default;
    ~vtkFastBase64OutputStream() override = default;

private:
    // The bytes of an unfinished group of three, carried to the next write.
    unsigned char m_carry[2] = {0, 0};
    unsigned m_carried = 0;
};

namespace base64 {
// Encodes `size` bytes (whole groups of three, then the padded end) into
// `out` (room for 4 * ceil(size / 3)); returns the characters written.
size_t Encode(const unsigned char* in, size_t size, char* out);
} // namespace base64
