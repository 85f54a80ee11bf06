#pragma once
// Converting a plain-text XYZ file into a model file with its offset file,
// and the naming of the files an import writes.
#include <cstddef>
#include <string>
#include <vector>

class IProgressSink;
class vtkPolyData;
namespace zblock {
enum class Method;
}

namespace xyz {

enum class ConvertResult { Ok, Failed, Aborted };

// Which deflate the conversion writes with (ISA-L by default; zlib gives
// the bytes VTK's own writer gives). For tests and benchmarks.
void SetDeflater(zblock::Method method);
// Blocks of the last conversion: planned, handed over by the workers, and
// compressed on the spot because they were not the ones planned.
struct BlockCounts {
    size_t planned = 0, served = 0, unplanned = 0;
};
BlockCounts LastBlockCounts();

// Converts `source` into the model file `output` (binary VTK XML poly data,
// points centred on their bounding box) and the offset file beside it that
// holds the centre. `sink` may be none; it shows the stage "Converting
// Data..." and may abort. `why` receives a reason on failure.
ConvertResult ConvertXyzFile(const std::string& source, const std::string& output, IProgressSink* sink,
                             std::string* why = nullptr);

// Converts a file of another program (LAS, PLY, PTS, OBJ, STL: see
// ForeignModel.h) the same way: the model with the reader's offset in the
// offset file. ConvertFile chooses by the extension, XYZ for all others.
ConvertResult ConvertForeignFile(const std::string& source, const std::string& output, IProgressSink* sink,
                                 std::string* why = nullptr);
// Scan `index` (from 0) of a file of several scans (E57, PTX).
ConvertResult ConvertScan(const std::string& source, size_t index, const std::string& output, IProgressSink* sink,
                          std::string* why = nullptr);
ConvertResult ConvertFile(const std::string& source, const std::string& output, IProgressSink* sink,
                          std::string* why = nullptr);

// Writes `poly` the way the conversions write models: VTK's XML layout,
// binary inline, blocks deflated on every core, synced. `sink` may be none.
ConvertResult WriteModelFile(vtkPolyData* poly, const std::string& output, IProgressSink* sink,
                             std::string* why = nullptr);

// The files of one import of D/N.E: the final D/N.vtp and D/N.vtw, and,
// once reserved, temporary D/N_Z-XXXXXX.vtp and .vtw that are ours alone.
struct ImportNames {
    std::string source;
    std::string baseName;
    std::string finalModel, finalOffset;
    std::string tempModel, tempOffset;
};
// A project listing `models` (names relative to its folder), written whole
// and then put in place; an existing one is kept unless `replace`.
bool WriteProjectFile(const std::string& path, const std::vector<std::string>& models, bool replace,
                      std::string* why = nullptr);

// `scan` N > 0: scan N of a file of several, imported as D/N_N.vtp.
ImportNames PlanImport(const std::string& source, int scan = 0);

// Refuses a source that is one of the final files (a text cloud named
// "pts.vtw"), then creates the temporary pair. False with the reason.
bool ReserveImport(ImportNames& names, std::string* why = nullptr);

// Puts the temporary pair in place of the final pair. With `replace` an
// old model is replaced (when the second rename fails it is put back);
// without, an existing model is kept even when it appeared only after the
// import started. False, with the reason in `why`, leaves the old pair as
// it was.
bool FinishImport(const ImportNames& names, std::string* why = nullptr, bool replace = true);
// Removes what a failed conversion left under the temporary names.
void DiscardImport(const ImportNames& names);

} // namespace xyz
