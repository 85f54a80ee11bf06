#pragma once
// The readers of other programs' formats as a pipeline source, so that a
// model from a LAS or PLY file runs through the same stages (progress,
// Abort, levels, mappers) as one from a model file.
#include <vtkPolyDataAlgorithm.h>

#include <string>

class vtkForeignModelReader : public vtkPolyDataAlgorithm {
public:
    static vtkForeignModelReader* New();
    vtkTypeMacro(vtkForeignModelReader, vtkPolyDataAlgorithm);

    void SetFileName(const std::string& path);
    // Scan `index` (from 0) of a file of several; -1 (the default): the file.
    void SetScan(int index);
    // Said after an update when the model was read but not whole.
    const std::string& GetWarning() const { return m_warning; }
    // After an update: why it failed (empty when it did not) and the
    // offset the points are relative to.
    const std::string& GetError() const { return m_error; }
    void GetModelOffset(double offset[3]) const;

protected:
    vtkForeignModelReader();
    ~vtkForeignModelReader() override = default;
    int RequestData(vtkInformation*, vtkInformationVector**, vtkInformationVector* output) override;

private:
    vtkForeignModelReader(const vtkForeignModelReader&) = delete;
    void operator=(const vtkForeignModelReader&) = delete;

    std::string m_path;
    std::string m_error;
    std::string m_warning;
    int m_scan = -1;
    double m_offset[3] = {0.0, 0.0, 0.0};
};
