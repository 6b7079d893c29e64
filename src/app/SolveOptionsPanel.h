#pragma once

#include "solver/SolveOptions.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace siderama {

// The solve options of the window: scale range and units, position and
// radius, downsampling, time limit and racing. Loaded from the user
// defaults and stored there on every change that makes sound options;
// unsound input is marked and not stored.
class SolveOptionsPanel : public QGroupBox {
    Q_OBJECT
public:
    explicit SolveOptionsPanel(QWidget* parent = nullptr);

    // The options as shown; nothing when an entry is not sound.
    std::optional<SolveOptions> options() const;

private:
    void show(const SolveOptions& options);
    SolveOptions entered() const;
    void store();
    QLineEdit* numberField(const QString& placeholder);

    QComboBox* units;
    QLineEdit *scaleLow, *scaleHigh, *ra, *dec, *radius;
    QSpinBox *downsample, *timeLimit;
    QCheckBox* racing;
};

}  // namespace siderama
