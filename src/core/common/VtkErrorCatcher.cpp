#include "core/common/VtkErrorCatcher.h"

#include <vtkCallbackCommand.h>
#include <vtkCommand.h>
#include <vtkObject.h>
#include <vtkLogger.h>
#include <vtkObjectFactory.h>
#include <vtkOutputWindow.h>
#include <vtkSmartPointer.h>

namespace {

// Keeps the first line of a VTK message without the source location prefix.
std::string Condense(const char* text)
{
    std::string s = text ? text : "";
    const size_t colon = s.find("): ");
    if (colon != std::string::npos)
        s = s.substr(colon + 3);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    const size_t nl = s.find('\n');
    if (nl != std::string::npos)
        s = s.substr(0, nl);
    return s;
}

class QuietOutputWindow : public vtkOutputWindow {
public:
    static QuietOutputWindow* New();
    vtkTypeMacro(QuietOutputWindow, vtkOutputWindow);
    void DisplayText(const char*) override {}
    void DisplayErrorText(const char*) override {}
    void DisplayWarningText(const char*) override {}
    void DisplayGenericWarningText(const char*) override {}
    void DisplayDebugText(const char*) override {}
};
vtkStandardNewMacro(QuietOutputWindow);

} // namespace

VtkErrorCatcher::VtkErrorCatcher(vtkObject* watched)
    : m_pWatched(watched), m_pCommand(vtkCallbackCommand::New())
{
    m_pCommand->SetCallback(&VtkErrorCatcher::OnError);
    m_pCommand->SetClientData(this);
    if (m_pWatched) {
        m_nErrorTag = m_pWatched->AddObserver(vtkCommand::ErrorEvent, m_pCommand);
        // Observed warnings are not printed either.
        m_nWarningTag = m_pWatched->AddObserver(vtkCommand::WarningEvent, m_pCommand);
    }
}

VtkErrorCatcher::~VtkErrorCatcher()
{
    if (m_pWatched) {
        m_pWatched->RemoveObserver(m_nErrorTag);
        m_pWatched->RemoveObserver(m_nWarningTag);
    }
    m_pCommand->Delete();
}

void VtkErrorCatcher::OnError(vtkObject*, unsigned long eventId, void* clientData, void* callData)
{
    auto* self = static_cast<VtkErrorCatcher*>(clientData);
    if (eventId != vtkCommand::ErrorEvent || !self->m_strMessage.empty())
        return;
    std::string text = Condense(static_cast<const char*>(callData));
    self->m_strMessage = text.empty() ? std::string("unreadable data") : text;
}

void SilenceVtkOutput()
{
    vtkSmartPointer<QuietOutputWindow> window = vtkSmartPointer<QuietOutputWindow>::New();
    vtkOutputWindow::SetInstance(window);
    // Errors are also logged straight to standard error; keep that quiet too.
    vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_OFF);
}

