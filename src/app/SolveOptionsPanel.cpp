#include "app/SolveOptionsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleValidator>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace siderama {

namespace {

const QList<std::pair<QString, QString>> unitNames{
    {"arcsecperpix", "arcsec per pixel"}, {"arcminwidth", "arcmin wide"}, {"degwidth", "degrees wide"}};

std::optional<double> number(const QLineEdit* field) {
    bool ok = false;
    const double value = field->text().toDouble(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

QString text(const std::optional<double>& value) { return value ? QString::number(*value, 'g', 10) : QString(); }

QWidget* row(std::initializer_list<QWidget*> widgets) {
    auto* box = new QWidget;
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* widget : widgets) layout->addWidget(widget);
    return box;
}

}  // namespace

SolveOptionsPanel::SolveOptionsPanel(QWidget* parent)
    : QGroupBox("Solve options", parent), units(new QComboBox), scaleLow(numberField("low")),
      scaleHigh(numberField("high")), ra(numberField("RA °")), dec(numberField("Dec °")),
      radius(numberField("radius °")), downsample(new QSpinBox), timeLimit(new QSpinBox),
      racing(new QCheckBox("Race two strategies")) {
    for (const auto& [name, label] : unitNames) units->addItem(label, name);
    downsample->setRange(0, 16);
    downsample->setSpecialValueText("auto");
    timeLimit->setRange(1, 24 * 3600);
    timeLimit->setSuffix(" s");
    auto* form = new QFormLayout(this);
    form->addRow("Scale", row({scaleLow, new QLabel("to"), scaleHigh, units}));
    form->addRow("Position", row({ra, dec, radius}));
    form->addRow("Downsample", row({downsample, new QLabel("Time limit"), timeLimit, racing}));
    show(SolveOptions::load());
    connect(units, &QComboBox::currentIndexChanged, this, &SolveOptionsPanel::store);
    for (QLineEdit* field : {scaleLow, scaleHigh, ra, dec, radius})
        connect(field, &QLineEdit::textChanged, this, &SolveOptionsPanel::store);
    for (QSpinBox* box : {downsample, timeLimit}) connect(box, &QSpinBox::valueChanged, this, &SolveOptionsPanel::store);
    connect(racing, &QCheckBox::toggled, this, &SolveOptionsPanel::store);
}

QLineEdit* SolveOptionsPanel::numberField(const QString& placeholder) {
    auto* field = new QLineEdit;
    field->setPlaceholderText(placeholder);
    field->setValidator(new QDoubleValidator(field));
    return field;
}

void SolveOptionsPanel::show(const SolveOptions& options) {
    units->setCurrentIndex(std::max(0, units->findData(options.scaleUnits)));
    scaleLow->setText(text(options.scaleLow));
    scaleHigh->setText(text(options.scaleHigh));
    ra->setText(text(options.ra));
    dec->setText(text(options.dec));
    radius->setText(text(options.radius));
    downsample->setValue(options.downsample);
    timeLimit->setValue(options.timeLimit);
    racing->setChecked(options.racing);
}

SolveOptions SolveOptionsPanel::entered() const {
    SolveOptions options;
    options.scaleUnits = units->currentData().toString();
    options.scaleLow = number(scaleLow);
    options.scaleHigh = number(scaleHigh);
    options.ra = number(ra);
    options.dec = number(dec);
    options.radius = number(radius);
    options.downsample = downsample->value();
    options.timeLimit = timeLimit->value();
    options.racing = racing->isChecked();
    return options;
}

std::optional<SolveOptions> SolveOptionsPanel::options() const {
    const SolveOptions options = entered();
    if (!options.validate().isEmpty()) return std::nullopt;
    return options;
}

// What is wrong shows in the title, where the person looks.
void SolveOptionsPanel::store() {
    const SolveOptions options = entered();
    const QString problem = options.validate();
    setTitle(problem.isEmpty() ? "Solve options" : "Solve options — " + problem);
    if (problem.isEmpty()) options.save();
}

}  // namespace siderama
