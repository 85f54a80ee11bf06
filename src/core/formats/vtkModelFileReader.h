#pragma once
// Our model files as a pipeline source: .vtp read by the parallel reader,
// and whatever it leaves (other layouts, .pvtp, legacy .vtk) by VTK's own
// readers, so that every model runs through the same stages (progress,
// Abort, levels, mappers).
#include <vtkPolyDataAlgorithm.h>

#include <functional>
#include <string>

class vtkModelFileReader : public vtkPolyDataAlgorithm {
public:
    static vtkModelFileReader* New();
    vtkTypeMacro(vtkModelFileReader, vtkPolyDataAlgorithm);

    // `lowerExtension` picks the reader: ".vtp", ".pvtp" or ".vtk".
    void SetFileName(const std::string& path, const std::string& lowerExtension);
    // The parallel reader may be turned off (benchmarks, comparisons), for
    // one reader or for those made afterwards.
    void SetParallel(bool parallel) { m_parallel = parallel, this->Modified(); }
    static void SetParallelForNewReaders(bool parallel);
    // Clouds of one vertex cell per point, in order, are read without the
    // cells (see ImplicitVertices).
    void SetDropOneVertexPerPoint(bool drop) { m_dropOneVertexPerPoint = drop, this->Modified(); }
    bool ImplicitVertices() const { return m_implicitVertices; }
    // Run on the file before VTK's reader reads it (VTK's readers allocate
    // what a file declares): a reason to refuse it, or nothing. The
    // parallel reader checks what it reads itself.
    void SetCheckBeforeVtk(std::function<std::string(const std::string&, const std::string&)> check)
    {
        m_check = std::move(check);
    }
    // After an update: why it failed (empty when it did not), and whether
    // the parallel reader read it.
    const std::string& GetError() const { return m_error; }
    bool ReadInParallel() const { return m_readInParallel; }

protected:
    vtkModelFileReader();
    ~vtkModelFileReader() override = default;
    int RequestData(vtkInformation*, vtkInformationVector**, vtkInformationVector* output) override;

private:
    vtkModelFileReader(const vtkModelFileReader&) = delete;
    void operator=(const vtkModelFileReader&) = delete;

    std::string m_path, m_extension;
    std::string m_error;
    bool m_parallel;
    bool m_readInParallel = false;
    bool m_dropOneVertexPerPoint = false;
    bool m_implicitVertices = false;
    std::function<std::string(const std::string&, const std::string&)> m_check;
};
