// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ExportDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "app/LogExportFile.h"
#include "app/NativePath.h"
#include "core/EngineError.h"

namespace zolt {

QString ExportDialog::lastFolder;

namespace {

const QString kTitle = QStringLiteral("Export Log");

struct FormatChoice {
    ExportFormat format;
    const char* caption;
    const char* filter;
};
constexpr FormatChoice kFormats[] = {
    {ExportFormat::Csv, "CSV table, for spreadsheets (.csv)", "CSV table (*.csv)"},
    {ExportFormat::Adif, "ADIF 3.1, for logbooks (.adi)", "ADIF log (*.adi)"},
    {ExportFormat::Kml, "KML map, for Google Earth and GIS programs (.kml)", "KML map (*.kml)"},
};

QString receptionsText(std::size_t n) {
    return QString::fromStdString(groupedNumber(static_cast<long long>(n))) +
           (n == 1 ? QStringLiteral(" reception") : QStringLiteral(" receptions"));
}

}  // namespace

ExportDialog::ExportDialog(ExportedLog log, int selected, QWidget* parent)
    : QDialog(parent), log_(std::move(log)) {
    setWindowTitle(kTitle);
    setObjectName(QStringLiteral("frmExportLog"));

    format_ = new QComboBox(this);
    format_->setObjectName(QStringLiteral("cboExportFormat"));
    for (const auto& f : kFormats) format_->addItem(QString::fromLatin1(f.caption));
    format_->setAccessibleName(QStringLiteral("Format"));

    location_ = new QComboBox(this);
    location_->setObjectName(QStringLiteral("cboExportLocation"));
    location_->setAccessibleName(QStringLiteral("Location"));
    location_->addItem(
        QStringLiteral("All locations (%1)").arg(receptionsText(log_.receptions.size())), 0);
    for (const auto& place : log_.locations) {
        std::size_t n = 0;
        for (const auto& r : log_.receptions) n += r.location == place.number ? 1 : 0;
        const QString name =
            place.name.empty()
                ? QStringLiteral("Location %1").arg(place.number)
                : QStringLiteral("%1 %2").arg(place.number).arg(QString::fromStdString(place.name));
        location_->addItem(QStringLiteral("%1 (%2)").arg(name, receptionsText(n)), place.number);
        if (place.number == selected) location_->setCurrentIndex(location_->count() - 1);
    }

    order_ = new QComboBox(this);
    order_->setObjectName(QStringLiteral("cboExportDateOrder"));
    order_->setAccessibleName(QStringLiteral("Date order"));
    order_->addItem(QStringLiteral("Month first (12/24/99)"),
                    static_cast<int>(DateOrder::MonthFirst));
    order_->addItem(QStringLiteral("Day first (24/12/99)"), static_cast<int>(DateOrder::DayFirst));
    order_->setPlaceholderText(QStringLiteral("Choose how to read the dates"));

    dates_ = new QLabel(this);
    dates_->setObjectName(QStringLiteral("lblExportDates"));
    dates_->setWordWrap(true);

    auto* form = new QFormLayout;
    auto addRow = [&](const QString& caption, QWidget* field) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(field);
        form->addRow(label, field);
    };
    addRow(QStringLiteral("&Format:"), format_);
    addRow(QStringLiteral("&Location:"), location_);
    addRow(QStringLiteral("&Dates:"), order_);
    form->addRow(QString(), dates_);

    auto* buttons = new QDialogButtonBox(this);
    export_ = buttons->addButton(QStringLiteral("&Export…"), QDialogButtonBox::AcceptRole);
    export_->setObjectName(QStringLiteral("cmdExport"));
    export_->setDefault(true);
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("cmdExportCancel"));
    connect(export_, &QPushButton::clicked, this, &ExportDialog::exportClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(location_, &QComboBox::currentIndexChanged, this, &ExportDialog::refreshDates);
    connect(order_, &QComboBox::currentIndexChanged, this,
            [this] { export_->setEnabled(order_->currentIndex() >= 0); });
    refreshDates();

    chooseFile = [this](const QString& suggested, const QString& filter) {
        return QFileDialog::getSaveFileName(this, kTitle, suggested, filter);
    };
}

ExportedLog ExportDialog::shownLog() const {
    return onlyLocation(log_, location_->currentData().toInt());
}

void ExportDialog::refreshDates() {
    // The dates of what is exported decide, so the order is looked at anew
    // when another location is chosen.
    const DateOrderDetector dates = detectDateOrder(shownLog());
    const auto example = [](const std::string& text) { return QString::fromStdString(text); };
    switch (dates.finding()) {
        case DateOrderDetector::Finding::MonthFirst:
            dates_->setText(QStringLiteral("The dates put the month first (%1).")
                                .arg(example(dates.monthFirstExample())));
            break;
        case DateOrderDetector::Finding::DayFirst:
            dates_->setText(QStringLiteral("The dates put the day first (%1).")
                                .arg(example(dates.dayFirstExample())));
            break;
        case DateOrderDetector::Finding::Undecided:
            dates_->setText(
                QStringLiteral("No date shows which comes first; month first is "
                               "assumed. Change it if you wrote the day first."));
            break;
        case DateOrderDetector::Finding::Mixed:
            dates_->setText(
                QStringLiteral("The dates are mixed: %1 puts the day first, %2 the "
                               "month. Choose how to read the dates that fit either way.")
                    .arg(example(dates.dayFirstExample()), example(dates.monthFirstExample())));
            order_->setCurrentIndex(-1);
            export_->setEnabled(false);
            return;
    }
    order_->setCurrentIndex(dates.suggested() == DateOrder::DayFirst ? 1 : 0);
    export_->setEnabled(true);
}

void ExportDialog::exportClicked() {
    if (order_->currentIndex() < 0) return;
    const FormatChoice& choice = kFormats[format_->currentIndex()];
    const QString suffix = QString::fromLatin1(exportSuffix(choice.format));
    if (lastFolder.isEmpty()) {
        lastFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    }
    const int location = location_->currentData().toInt();
    const QString name = location == 0
                             ? QStringLiteral("ndb-log.%1").arg(suffix)
                             : QStringLiteral("ndb-log-location-%1.%2").arg(location).arg(suffix);
    QString file = chooseFile(QDir(lastFolder).filePath(name), QString::fromLatin1(choice.filter));
    if (file.isEmpty()) return;
    // A name typed without a known ending gets the chosen format's.
    if (!exportFormatFor(pathFromQString(file))) file += QLatin1Char('.') + suffix;
    lastFolder = QFileInfo(file).absolutePath();

    const auto order = static_cast<DateOrder>(order_->currentData().toInt());
    try {
        summary_ = QString::fromStdString(
            writeExportFile(shownLog(), pathFromQString(file), order).summary);
    } catch (const std::exception& error) {
        QMessageBox::critical(this, kTitle, QString::fromStdString(error.what()));
        return;
    }
    QMessageBox::information(this, kTitle, summary_);
    accept();
}

QPushButton* ExportDialog::makeButton(const char* objectName, QWidget* parent) {
    auto* button = new QPushButton(QStringLiteral("&Export Log…"), parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setAccessibleName(QStringLiteral("Export Log"));
    button->setToolTip(QStringLiteral("Write the converted log to a CSV, ADIF or KML file"));
    return button;
}

void ExportDialog::run(QWidget* parent, const ProjectPaths& paths,
                       const std::filesystem::path& registryFile, int selected) {
    ExportedLog log;
    try {
        log = readExportedLog(exportSourceFor(paths, 0, registryFile));
    } catch (const std::exception& error) {
        QMessageBox::critical(parent, kTitle, QString::fromStdString(error.what()));
        return;
    }
    if (log.receptions.empty()) {
        QMessageBox::information(parent, kTitle,
                                 QStringLiteral("There is nothing to export yet: no reception "
                                                "has been logged in %1.")
                                     .arg(QString::fromStdString(paths.DatabasePath.string())));
        return;
    }
    ExportDialog dialog(std::move(log), selected, parent);
    dialog.exec();
}

}  // namespace zolt
