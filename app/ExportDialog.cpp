// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/ExportDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <algorithm>

#include "app/LogExportFile.h"
#include "app/NativePath.h"
#include "app/ShownNumbers.h"
#include "core/EngineError.h"

namespace zolt {

QString ExportDialog::lastFolder;

namespace {

const QString kTitle = QStringLiteral("Export Log");
const QString kCallsignKey = QStringLiteral("export/stationCallsign");

// The dialog's remembered choices live in the user's settings
// (~/.config/zolt-converter/zolt-converter.conf on Linux).
const QString kSettingsName = QStringLiteral("zolt-converter");

struct FormatChoice {
    ExportFormat format;
    bool byteOrderMark;
    const char* caption;
    const char* filter;
};
constexpr FormatChoice kFormats[] = {
    {ExportFormat::Csv, false, "CSV table, for spreadsheets (.csv)", "CSV table (*.csv)"},
    {ExportFormat::Csv, true, "CSV table for Excel, UTF-8 with byte-order mark (.csv)",
     "CSV table (*.csv)"},
    {ExportFormat::Adif, false, "ADIF 3.1, for logbooks (.adi)", "ADIF log (*.adi)"},
    {ExportFormat::Kml, false, "KML map, for Google Earth and GIS programs (.kml)",
     "KML map (*.kml)"},
};

QString receptionsText(std::size_t n) {
    return counted(static_cast<long long>(n), "reception", "receptions");
}

QString placeCaption(const ExportedLocation& place) {
    return place.name.empty()
               ? QStringLiteral("Location %1").arg(place.number)
               : QStringLiteral("%1 %2").arg(place.number).arg(QString::fromStdString(place.name));
}

// One line beside the location's order: a wrapped text in a grid row is
// cut short by the row's height.
QString findingText(const DateOrderDetector& dates) {
    const auto example = [](const std::string& text) { return QString::fromStdString(text); };
    switch (dates.finding()) {
        case DateOrderDetector::Finding::MonthFirst:
            return QStringLiteral("The dates put the month first (%1).")
                .arg(example(dates.monthFirstExample()));
        case DateOrderDetector::Finding::DayFirst:
            return QStringLiteral("The dates put the day first (%1).")
                .arg(example(dates.dayFirstExample()));
        case DateOrderDetector::Finding::Undecided:
            return QStringLiteral("No date shows the order; month first is assumed.");
        case DateOrderDetector::Finding::Mixed:
            break;
    }
    return QStringLiteral("The dates are mixed: %1 puts the day first, %2 the month. Choose.")
        .arg(example(dates.dayFirstExample()), example(dates.monthFirstExample()));
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
        location_->addItem(QStringLiteral("%1 (%2)").arg(placeCaption(place), receptionsText(n)),
                           place.number);
        if (place.number == selected) location_->setCurrentIndex(location_->count() - 1);
    }

    // One row per location: each listener's habit may differ from place to
    // place, and a location's dates are read in its own order.
    auto* dates = new QWidget(this);
    auto* grid = new QGridLayout(dates);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setColumnStretch(2, 1);
    const auto detected = detectDateOrders(log_);
    for (const auto& place : log_.locations) {
        const DateOrderDetector& found = detected.at(place.number);
        DateRow row;
        // A name is shown as typed: no markup, and "&" no mnemonic.
        auto* caption = new QLabel(placeCaption(place).replace(u'&', QStringLiteral("&&")), dates);
        caption->setTextFormat(Qt::PlainText);
        row.caption = caption;
        row.order = new QComboBox(dates);
        row.order->setObjectName(QStringLiteral("cboExportDateOrder%1").arg(place.number));
        row.order->setAccessibleName(
            QStringLiteral("Date order of %1").arg(QString::fromStdString(locationLabel(place))));
        row.order->addItem(QStringLiteral("Month first (12/24/99)"),
                           static_cast<int>(DateOrder::MonthFirst));
        row.order->addItem(QStringLiteral("Day first (24/12/99)"),
                           static_cast<int>(DateOrder::DayFirst));
        row.order->setPlaceholderText(QStringLiteral("Choose how to read the dates"));
        row.order->setCurrentIndex(found.finding() == DateOrderDetector::Finding::Mixed ? -1
                                   : found.suggested() == DateOrder::DayFirst           ? 1
                                                                                        : 0);
        caption->setBuddy(row.order);
        row.finding = new QLabel(findingText(found), dates);
        row.finding->setTextFormat(Qt::PlainText);
        row.finding->setObjectName(QStringLiteral("lblExportDates%1").arg(place.number));
        const int line = grid->rowCount();
        grid->addWidget(row.caption, line, 0);
        grid->addWidget(row.order, line, 1);
        grid->addWidget(row.finding, line, 2);
        connect(row.order, &QComboBox::currentIndexChanged, this, &ExportDialog::refresh);
        dateRows_[place.number] = row;
    }

    exactText_ = new QCheckBox(
        QStringLiteral("E&xact text: no apostrophe before a cell that begins with = + - @"), this);
    exactText_->setObjectName(QStringLiteral("chkCsvExactText"));
    exactText_->setToolTip(
        QStringLiteral("Without it, such a cell gets a leading apostrophe, so that a "
                       "spreadsheet shows it as text and never runs it as a formula"));

    callsign_ = new QLineEdit(this);
    callsign_->setObjectName(QStringLiteral("txtStationCallsign"));
    callsign_->setAccessibleName(QStringLiteral("Your callsign or listener number"));
    callsign_->setPlaceholderText(QStringLiteral("optional, e.g. your listener number"));
    callsign_->setText(QSettings(kSettingsName, kSettingsName).value(kCallsignKey).toString());

    notes_ = new QLabel(this);
    notes_->setTextFormat(Qt::PlainText);
    notes_->setObjectName(QStringLiteral("lblExportNotes"));
    notes_->setWordWrap(true);

    form_ = new QFormLayout;
    auto addRow = [&](const QString& caption, QWidget* field) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(field);
        form_->addRow(label, field);
    };
    addRow(QStringLiteral("&Format:"), format_);
    addRow(QStringLiteral("&Location:"), location_);
    form_->addRow(QStringLiteral("Dates:"), dates);
    form_->addRow(QString(), exactText_);
    addRow(QStringLiteral("&Your callsign:"), callsign_);
    form_->addRow(QString(), notes_);

    auto* buttons = new QDialogButtonBox(this);
    export_ = buttons->addButton(QStringLiteral("&Export…"), QDialogButtonBox::AcceptRole);
    export_->setObjectName(QStringLiteral("cmdExport"));
    export_->setDefault(true);
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("cmdExportCancel"));
    connect(export_, &QPushButton::clicked, this, &ExportDialog::exportClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form_);
    layout->addWidget(buttons);

    connect(location_, &QComboBox::currentIndexChanged, this, &ExportDialog::refresh);
    connect(format_, &QComboBox::currentIndexChanged, this, &ExportDialog::refresh);
    refresh();

    chooseFile = [this](const QString& suggested, const QString& filter) {
        return QFileDialog::getSaveFileName(this, kTitle, suggested, filter);
    };
}

QComboBox* ExportDialog::dateOrderBox(int location) const {
    const auto it = dateRows_.find(location);
    return it == dateRows_.end() ? nullptr : it->second.order;
}

QLabel* ExportDialog::datesLabel(int location) const {
    const auto it = dateRows_.find(location);
    return it == dateRows_.end() ? nullptr : it->second.finding;
}

ExportedLog ExportDialog::shownLog() const {
    return onlyLocation(log_, location_->currentData().toInt());
}

ExportOptions ExportDialog::chosenOptions() const {
    const FormatChoice& choice = kFormats[format_->currentIndex()];
    ExportOptions options;
    for (const auto& [location, row] : dateRows_) {
        if (row.order->currentIndex() >= 0) {
            options.dates.byLocation[location] =
                static_cast<DateOrder>(row.order->currentData().toInt());
        }
    }
    options.csvExactText = exactText_->isChecked();
    options.csvByteOrderMark = choice.byteOrderMark;
    options.stationCallsign = callsign_->text().trimmed().toStdString();
    return options;
}

void ExportDialog::refresh() {
    const ExportFormat format = kFormats[format_->currentIndex()].format;
    const ExportedLog shown = shownLog();
    // Only the locations being exported are asked about, and only they can
    // hold the export back.
    bool chosen = true;
    for (const auto& [location, row] : dateRows_) {
        const bool visible = std::any_of(shown.locations.begin(), shown.locations.end(),
                                         [&, location = location](const auto& l) { return l.number == location; });
        row.caption->setVisible(visible);
        row.order->setVisible(visible);
        row.finding->setVisible(visible);
        chosen = chosen && (!visible || row.order->currentIndex() >= 0);
    }
    export_->setEnabled(chosen);
    form_->setRowVisible(exactText_, format == ExportFormat::Csv);
    form_->setRowVisible(callsign_, format == ExportFormat::Adif);

    QStringList notes;
    QStringList untyped;
    for (const auto& place : shown.locations) {
        if (!place.home) untyped << QString::fromStdString(locationLabel(place));
    }
    if (!untyped.isEmpty()) {
        notes << QStringLiteral(
                     "No home was typed for %1: the file gives no position of %2 and no "
                     "distances from %2. Type the home on step two to have them.")
                     .arg(untyped.join(QStringLiteral(", ")),
                          untyped.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    }
    if (format == ExportFormat::Kml) {
        ExportCounts counts;
        counts.unplaced = mapCounts(shown).unplaced;
        if (counts.unplaced > 0) notes << QString::fromStdString(offTheMap(counts)) + u'.';
    }
    if (format == ExportFormat::Adif && chosen) {
        const std::string left = leftOutOfAdif(adifGaps(shown, chosenOptions().dates));
        if (!left.empty())
            notes << QStringLiteral("Of these receptions, %1.").arg(QString::fromStdString(left));
    }
    notes_->setText(notes.join(u'\n'));
    notes_->setVisible(!notes.isEmpty());
}

void ExportDialog::exportClicked() {
    if (!export_->isEnabled()) return;
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

    const ExportOptions options = chosenOptions();
    if (choice.format == ExportFormat::Adif) {
        QSettings(kSettingsName, kSettingsName)
            .setValue(kCallsignKey, QString::fromStdString(options.stationCallsign));
    }
    try {
        summary_ = QString::fromStdString(
            writeExportFile(shownLog(), pathFromQString(file), options).summary);
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
