#pragma once
// Compressing a model's blocks on every core while the XML writer formats
// the file. The writer asks its compressor for one block at a time, in the
// order of the file; this compressor knows that order beforehand (the
// arrays it will be given), compresses ahead on worker threads a bounded
// window of blocks, and hands each over when asked. A block that is not the
// one expected (another writer, another order) is compressed on the spot,
// so the file is right either way; only the speed depends on the plan.
//
// It reports the class name of the zlib compressor, which is what files
// record and readers look for: its blocks are ordinary zlib streams.
#include <vtkZLibDataCompressor.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace zblock {

enum class Method {
    Zlib, // zlib's own deflate: the bytes VTK's compressor writes
    Isal, // Intel's ISA-L deflate, level 1: several times faster
};

// A zlib stream of `size` bytes into `out` (room for Bound(size)); 0 when
// it does not fit. `level` counts for zlib only.
size_t Compress(Method method, const void* in, size_t size, unsigned char* out, size_t capacity, int level = 1);
size_t Bound(size_t size);

} // namespace zblock

class vtkParallelZLibCompressor : public vtkZLibDataCompressor {
public:
    static vtkParallelZLibCompressor* New();

    // One array's bytes as the writer will pass them, in file order.
    struct Segment {
        const unsigned char* bytes;
        size_t size;
    };
    // Starts the workers on the blocks of `segments`, cut at `blockSize`
    // as the writer cuts each array.
    void Start(std::vector<Segment> segments, size_t blockSize, zblock::Method method, unsigned threads);
    // Stops and joins the workers (also on destruction).
    void Stop();

    size_t Served() const { return m_served; }
    size_t Unplanned() const { return m_unplanned; }
    size_t PlannedBlocks() const { return m_blocks.size(); }

protected:
    vtkParallelZLibCompressor();
    ~vtkParallelZLibCompressor() override;
    size_t CompressBuffer(unsigned char const* data, size_t size, unsigned char* out, size_t capacity) override;

private:
    struct Block {
        const unsigned char* bytes;
        size_t size;
    };
    struct Slot {
        std::vector<unsigned char> out;
        size_t size = 0;
        size_t block = SIZE_MAX; // which block it holds once ready
        bool ready = false;
    };
    void Work();

    zblock::Method m_method = zblock::Method::Isal;
    std::vector<Block> m_blocks;
    std::vector<Slot> m_slots;
    std::vector<std::thread> m_workers;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    size_t m_nextClaim = 0;
    size_t m_served = 0;
    size_t m_unplanned = 0;
    bool m_stop = false;
};
