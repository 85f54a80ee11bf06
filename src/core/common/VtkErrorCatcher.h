#pragma once
// Turns VTK's error reports into results: while a catcher watches an
// object, its error events are recorded instead of being printed.
#include <string>

class vtkObject;
class vtkCallbackCommand;

class VtkErrorCatcher {
public:
    explicit VtkErrorCatcher(vtkObject* watched);
    ~VtkErrorCatcher();
    VtkErrorCatcher(const VtkErrorCatcher&) = delete;
    VtkErrorCatcher& operator=(const VtkErrorCatcher&) = delete;

    bool HasError() const { return !m_strMessage.empty(); }
    const std::string& GetMessage() const { return m_strMessage; }

private:
    static void OnError(vtkObject*, unsigned long, void* clientData, void* callData);

    vtkObject* m_pWatched;
    vtkCallbackCommand* m_pCommand;
    unsigned long m_nErrorTag = 0;
    unsigned long m_nWarningTag = 0;
    std::string m_strMessage;
};

// Replaces VTK's output window by one that keeps quiet: library messages
// never reach a terminal or a window; errors reach their callers through
// VtkErrorCatcher.
void SilenceVtkOutput();
