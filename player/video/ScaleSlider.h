#pragma once

#include <QSlider>

class QLabel;

// The zoom-times slider of a two-lens camera, shown at the bottom of a video
// window. Its value counts tenths above 1.0: value v stands for the factor
// 1 + v / 10, shown in the label that rides along the slider.
class CScaleSlider : public QSlider
{
    Q_OBJECT

public:
    // The maximum the slider falls back to when it is given none it can use.
    static constexpr float kDefaultMaxTimes = 8.0f;

    // A maximum below 1.1 leaves no step to slide over (and divides by zero
    // when ticks and the label are placed); an absurdly large one would not fit
    // the window. Not-a-number and infinities are invalid too.
    static bool IsValidMaxTimes(float fMaxTimes);
    // Tenths in `fTimes`, truncated, but without losing a tenth to the binary
    // representation (1.3 is stored as 1.2999999 and still gives 13).
    static int TimesToTenths(double fTimes);
    // Number of slider steps for a maximum: (maximum - 1) x 10, truncated.
    static int MaxSteps(float fMaxTimes);

    CScaleSlider(QWidget *parent, int nWndNo, float fMaxTimes);

    int GetWndNo() const { return m_nWndNo; }
    float GetMaxTimes() const { return m_fMaxTimes; }
    int GetMaxSteps() const { return m_iMaxTimes; }
    // Takes another maximum (an invalid one is ignored) and adapts the range.
    void SetMaxTimes(float fMaxTimes);
    // Lets go of the native window, as the window it was in went away; the
    // making of that window anew makes another.
    void DropNativeWindow();
    QLabel *GetLabel() const { return m_pLabel; }

signals:
    void sig_SetScaleTwoLensTimes(float fTimes, int nWndNo);

public slots:
    void onValueChanged(int nValue);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void PlaceLabel(int nValue);

    QLabel *m_pLabel = nullptr;
    int m_nWndNo = 0;
    float m_fMaxTimes = kDefaultMaxTimes;
    int m_iMaxTimes = 70;
};
