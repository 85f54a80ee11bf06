#pragma once
// Where long pipeline runs report: a stage text, a fraction done and an
// abort flag that only ever goes from off to on. The viewer's progress
// dialog implements it; the command line and the tests use a silent one.
#include <string>

class IProgressSink {
public:
    virtual ~IProgressSink() = default;
    // False when there is no place to show the text (the window is gone).
    virtual bool SetText(const std::string& text) = 0;
    virtual void SetFraction(double fraction) = 0;
    virtual bool IsAborted() const = 0;
    // Called from progress reports once the abort flag is seen.
    virtual void OnAbortPending() {}
    // Lets the user interface handle its pending events during long runs.
    virtual void PumpMessages() {}
};

// Whole percent shown for a fraction: truncated, so 0.999 is 99.
int ProgressPercent(double fraction);

// For long loops of their own, every so often: the fraction done and
// pending events; true when the user pressed Abort. No sink: never.
bool ProgressCheckpoint(IProgressSink* sink, double done, double total);

class CSilentProgress : public IProgressSink {
public:
    bool SetText(const std::string& text) override
    {
        m_strText = text;
        return true;
    }
    void SetFraction(double fraction) override { m_dFraction = fraction; }
    bool IsAborted() const override { return m_bAborted; }
    void Abort() { m_bAborted = true; }

    const std::string& GetText() const { return m_strText; }
    double GetFraction() const { return m_dFraction; }

private:
    std::string m_strText;
    double m_dFraction = 0.0;
    bool m_bAborted = false;
};
