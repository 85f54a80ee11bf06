#include "core/exchange/ParallelDeflate.h"

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace zblock {

size_t Bound(size_t size)
{
    // Either library's worst case, with room for the stream's header and end.
    return std::max<size_t>(compressBound(static_cast<uLong>(size)), size + size / 8 + ISAL_DEF_MAX_HDR_SIZE + 64);
}

size_t Compress(Method method, const void* in, size_t size, unsigned char* out, size_t capacity, int level)
{
    if (method == Method::Isal) {
        thread_local std::unique_ptr<unsigned char[]> levelBuffer(new unsigned char[ISAL_DEF_LVL1_DEFAULT]);
        isal_zstream stream;
        isal_deflate_stateless_init(&stream);
        stream.gzip_flag = IGZIP_ZLIB;
        stream.level = 1;
        stream.level_buf = levelBuffer.get();
        stream.level_buf_size = ISAL_DEF_LVL1_DEFAULT;
        stream.next_in = static_cast<uint8_t*>(const_cast<void*>(in));
        stream.avail_in = static_cast<uint32_t>(size);
        stream.next_out = out;
        stream.avail_out = static_cast<uint32_t>(std::min<size_t>(capacity, UINT32_MAX));
        stream.end_of_stream = 1;
        stream.flush = NO_FLUSH;
        if (size <= UINT32_MAX && isal_deflate_stateless(&stream) == COMP_OK)
            return stream.total_out;
        // Data that does not shrink may not fit the stateless form: zlib's own.
    }
    uLongf written = static_cast<uLongf>(capacity);
    if (compress2(out, &written, static_cast<const Bytef*>(in), static_cast<uLong>(size), level) != Z_OK)
        return 0;
    return written;
}

} // namespace zblock

vtkParallelZLibCompressor* vtkParallelZLibCompressor::New()
{
    auto* object = new vtkParallelZLibCompressor;
    object->InitializeObjectBase();
    return object;
}

vtkParallelZLibCompressor::vtkParallelZLibCompressor() = default;

vtkParallelZLibCompressor::~vtkParallelZLibCompressor() { Stop(); }

void vtkParallelZLibCompressor::Start(std::vector<Segment> segments, size_t blockSize, zblock::Method method,
                                      unsigned threads)
{
    Stop();
    m_method = method;
    m_blocks.clear();
    for (const Segment& s : segments)
        for (size_t at = 0; at < s.size; at += blockSize)
            m_blocks.push_back({s.bytes + at, std::min(blockSize, s.size - at)});
    threads = std::max(1u, std::min(threads, 16u));
    // A few blocks per worker ahead of the writer: memory stays bounded.
    m_slots.assign(4 * threads, Slot());
    m_nextClaim = m_served = m_unplanned = 0;
    m_stop = false;
    for (unsigned i = 0; i < threads; ++i)
        m_workers.emplace_back([this] { Work(); });
}

void vtkParallelZLibCompressor::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    for (std::thread& t : m_workers)
        t.join();
    m_workers.clear();
}

void vtkParallelZLibCompressor::Work()
{
    std::vector<unsigned char> out;
    for (;;) {
        size_t b;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] {
                return m_stop || m_nextClaim >= m_blocks.size() || m_nextClaim < m_served + m_slots.size();
            });
            if (m_stop || m_nextClaim >= m_blocks.size())
                return;
            b = m_nextClaim++;
        }
        const Block& block = m_blocks[b];
        out.resize(zblock::Bound(block.size));
        const size_t size =
            zblock::Compress(m_method, block.bytes, block.size, out.data(), out.size(), this->CompressionLevel);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            Slot& slot = m_slots[b % m_slots.size()];
            slot.out.swap(out);
            slot.size = size;
            slot.block = b;
            slot.ready = true;
        }
        m_changed.notify_all();
    }
}

size_t vtkParallelZLibCompressor::CompressBuffer(unsigned char const* data, size_t size, unsigned char* out,
                                                 size_t capacity)
{
    if (!m_workers.empty() && m_served < m_blocks.size()) {
        const Block& expected = m_blocks[m_served];
        // The very bytes planned, not just the same length.
        if (expected.size == size && std::memcmp(expected.bytes, data, size) == 0) {
            std::unique_lock<std::mutex> lock(m_mutex);
            Slot& slot = m_slots[m_served % m_slots.size()];
            m_changed.wait(lock, [&] { return slot.ready && slot.block == m_served; });
            size_t written = 0;
            if (slot.size > 0 && slot.size <= capacity) {
                std::memcpy(out, slot.out.data(), slot.size);
                written = slot.size;
            }
            slot.ready = false;
            ++m_served;
            lock.unlock();
            m_changed.notify_all();
            if (written > 0)
                return written;
            return zblock::Compress(m_method, data, size, out, capacity, this->CompressionLevel);
        }
    }
    ++m_unplanned;
    return zblock::Compress(m_method, data, size, out, capacity, this->CompressionLevel);
}
