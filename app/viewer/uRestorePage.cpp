#include "uRestorePage.h"

#include "uCommonUtils.h"
#include "uRestorePlanText.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <string>
#include <utility>

namespace {

// The form the planner reads and writes times in; the edit shows the same form so that
// what is typed is what the command line's --at would be given.
const QString PlanTimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

// The lines of the planner's own text that say what was asked for and what the steps
// reach, so that the page words them as the text output does.
QString RestoresToLines(const TDatabasePlan& plan)
{
    QStringList lines;
    for (const QString& line : Q(DatabasePlanText(plan)).split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1String("Target: ")) ||
            trimmed.startsWith(QLatin1String("Restores to: ")))
            lines << trimmed;
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

TRestorePage::TRestorePage(QWidget* parent)
    : QWidget(parent), cbDatabase(new QComboBox(this)), rbLatest(new QRadioButton(tr("&Latest point"), this)),
      rbPointInTime(new QRadioButton(tr("&Point in time:"), this)), dtPointInTime(new QDateTimeEdit(this)),
      lblRestoresTo(new QLabel(this)), lvSteps(new QTreeWidget(this)), lvFindings(new QListWidget(this)),
      edDataDir(new QLineEdit(this)), edLogDir(new QLineEdit(this)), edServerDir(new QLineEdit(this)),
      mmScript(new QPlainTextEdit(this)), btnCopyScript(new QPushButton(tr("Copy script"), this))
{
    cbDatabase->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    rbLatest->setChecked(true);
    // The backups' dates carry no zone: UTC keeps every time of the day valid, where a
    // local clock would skip the hour a summer-time change leaves out.
    dtPointInTime->setTimeSpec(Qt::UTC);
    dtPointInTime->setDisplayFormat(PlanTimeFormat);
    dtPointInTime->setCalendarPopup(true);
    dtPointInTime->setEnabled(false);
    lblRestoresTo->setTextInteractionFlags(Qt::TextSelectableByMouse);

    lvSteps->setColumnCount(5);
    lvSteps->setHeaderLabels({tr("Step"), tr("Kind"), tr("Finished"), tr("FILE ="), tr("Files")});
    lvSteps->setRootIsDecorated(false);
    lvSteps->setUniformRowHeights(true);
    lvSteps->header()->setStretchLastSection(true);
    lvSteps->setAlternatingRowColors(true);

    // A finding's message names files and times: it is read whole, not scrolled to.
    lvFindings->setWordWrap(true);
    lvFindings->setResizeMode(QListView::Adjust);
    lvFindings->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    mmScript->setReadOnly(true);
    mmScript->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmScript->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    edDataDir->setPlaceholderText(tr("keep the backed-up paths"));
    edLogDir->setPlaceholderText(tr("keep the backed-up paths"));
    edServerDir->setPlaceholderText(tr("the paths as read here"));

    auto* target = new QHBoxLayout;
    target->addWidget(rbLatest);
    target->addWidget(rbPointInTime);
    target->addWidget(dtPointInTime);
    target->addStretch(1);
    auto* choice = new QFormLayout;
    choice->addRow(tr("&Database:"), cbDatabase);
    choice->addRow(tr("Target:"), target);
    choice->addRow(tr("Restores to:"), lblRestoresTo);

    auto* folders = new QGroupBox(tr("Folders of the script"), this);
    auto* folderForm = new QFormLayout(folders);
    folderForm->addRow(tr("D&ata files to:"), edDataDir);
    folderForm->addRow(tr("L&og files to:"), edLogDir);
    folderForm->addRow(tr("&Backups as the server sees them:"), edServerDir);

    auto* scriptBox = new QWidget(this);
    auto* scriptLayout = new QVBoxLayout(scriptBox);
    scriptLayout->setContentsMargins(0, 0, 0, 0);
    auto* scriptBar = new QHBoxLayout;
    scriptBar->addWidget(new QLabel(tr("T-SQL script:"), scriptBox));
    scriptBar->addStretch(1);
    scriptBar->addWidget(btnCopyScript);
    scriptLayout->addLayout(scriptBar);
    scriptLayout->addWidget(mmScript, 1);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(lvSteps);
    split->addWidget(lvFindings);
    split->addWidget(scriptBox);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 1);
    split->setStretchFactor(2, 3);
    split->setChildrenCollapsible(false);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choice);
    layout->addWidget(split, 1);
    layout->addWidget(folders);

    connect(cbDatabase, &QComboBox::currentIndexChanged, this, [this](int) { Replan(); });
    connect(rbPointInTime, &QRadioButton::toggled, this, [this](bool on) {
        dtPointInTime->setEnabled(on);
        Replan();
    });
    connect(dtPointInTime, &QDateTimeEdit::dateTimeChanged, this, [this] {
        if (rbPointInTime->isChecked())
            Replan();
    });
    for (QLineEdit* edit : {edDataDir, edLogDir, edServerDir})
        connect(edit, &QLineEdit::textEdited, this, [this] {
            WriteScript();
            emit FoldersChanged();
        });
    connect(btnCopyScript, &QPushButton::clicked, this, &TRestorePage::CopyScript);
    ShowPlan();
}

void TRestorePage::SetFiles(std::vector<TPlanFile> files)
{
    FFiles = std::move(files);
    FillDatabases();
}

void TRestorePage::Clear()
{
    SetFiles({});
}

void TRestorePage::FillDatabases()
{
    // A database is told apart by its binding ID: two servers' databases often share a
    // name.
    const QString name = cbDatabase->currentData(Qt::UserRole).toString();
    const QString binding = cbDatabase->currentData(Qt::UserRole + 1).toString();
    const TRestorePlans plans = PlanRestores(FFiles);
    {
        const QSignalBlocker block(cbDatabase);
        cbDatabase->clear();
        int chosen = 0;
        for (const TDatabasePlan& plan : plans.Databases) {
            const QString planName = QString::fromStdU16String(plan.Name);
            const QString planBinding = Q(GuidText(plan.BindingID));
            if (planName == name && planBinding == binding)
                chosen = cbDatabase->count();
            cbDatabase->addItem(
                tr("%1 on %2").arg(planName, plan.Server.empty() ? tr("an unnamed server") : Q(plan.Server)));
            const int index = cbDatabase->count() - 1;
            cbDatabase->setItemData(index, planName, Qt::UserRole);
            cbDatabase->setItemData(index, planBinding, Qt::UserRole + 1);
            cbDatabase->setItemData(index, tr("Binding ID %1").arg(planBinding), Qt::ToolTipRole);
        }
        if (cbDatabase->count() > 0)
            cbDatabase->setCurrentIndex(chosen);
    }
    Replan();
}

void TRestorePage::Replan()
{
    FPlan.clear();
    if (cbDatabase->currentIndex() >= 0) {
        const QString name = cbDatabase->currentData(Qt::UserRole).toString();
        const QString binding = cbDatabase->currentData(Qt::UserRole + 1).toString();
        TPlanOptions options;
        options.Database = name.toStdU16String();
        if (rbPointInTime->isChecked())
            options.At = ParsePlanTime(dtPointInTime->dateTime().toString(PlanTimeFormat).toStdString());
        TRestorePlans plans = PlanRestores(FFiles, options);
        for (TDatabasePlan& plan : plans.Databases)
            if (Q(GuidText(plan.BindingID)) == binding)
                FPlan.push_back(std::move(plan));
    }
    // The latest point's time is where a point in time is most often sought from.
    if (!FPlan.empty() && !rbPointInTime->isChecked() && FPlan.front().RestoresToTime != 0) {
        const QSignalBlocker block(dtPointInTime);
        dtPointInTime->setDateTime(
            QDateTime::fromString(Q(PlanTimeText(FPlan.front().RestoresToTime)), PlanTimeFormat).toUTC());
    }
    ShowPlan();
}

void TRestorePage::ShowPlan()
{
    lvSteps->clear();
    lvFindings->clear();
    if (FPlan.empty()) {
        lblRestoresTo->setText(FFiles.empty() ? tr("No backup files read.") : tr("No database found."));
        WriteScript();
        return;
    }
    const TDatabasePlan& plan = FPlan.front();
    lblRestoresTo->setText(RestoresToLines(plan));
    for (size_t i = 0; i < plan.Steps.size(); ++i) {
        const TPlanStep& step = plan.Steps[i];
        QString kind = QString::fromLatin1(PlanStepKindName(step.Kind));
        if (step.CopyOnly)
            kind += tr(" (copy-only)");
        if (step.HasPassword)
            kind += tr(" (password)");
        QString finished = step.Finish == 0 ? tr("unknown") : Q(PlanTimeText(step.Finish));
        if (step.StopAt)
            finished += tr(" (stop at %1)").arg(Q(PlanTimeText(*step.StopAt)));
        QStringList files;
        for (const std::string& file : step.Files)
            files << Q(file);
        auto* item =
            new QTreeWidgetItem(lvSteps, {QString::number(i + 1), kind, finished,
                                          QString::number(step.Position), files.join(QLatin1String(", "))});
        item->setToolTip(4, files.join(QLatin1Char('\n')));
    }
    for (int c = 0; c < lvSteps->columnCount() - 1; ++c)
        lvSteps->resizeColumnToContents(c);
    for (const TPlanFinding& finding : plan.Findings) {
        const bool error = finding.Severity == TFindingSeverity::Error;
        auto* item = new QListWidgetItem(
            style()->standardIcon(error ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning),
            QString::fromLatin1(FindingSeverityName(finding.Severity)) + QLatin1Char(' ') + Q(finding.Code) +
                QLatin1String(": ") + Q(finding.Message),
            lvFindings);
        item->setData(Qt::UserRole, QString::fromLatin1(FindingSeverityName(finding.Severity)));
    }
    if (plan.Findings.empty())
        new QListWidgetItem(tr("No findings: the plan reaches its target."), lvFindings);
    WriteScript();
}

void TRestorePage::WriteScript()
{
    if (FPlan.empty()) {
        mmScript->clear();
        btnCopyScript->setEnabled(false);
        return;
    }
    TScriptOptions options;
    options.DataDir = edDataDir->text().toStdString();
    options.LogDir = edLogDir->text().toStdString();
    options.ServerDir = edServerDir->text().toStdString();
    // Keep the view where it was: a folder typed in should not throw the reader back to
    // the top of a long script.
    const int scrolled = mmScript->verticalScrollBar()->value();
    mmScript->setPlainText(Q(RestoreScript(FPlan.front(), options)));
    mmScript->verticalScrollBar()->setValue(scrolled);
    btnCopyScript->setEnabled(true);
}

QString TRestorePage::ScriptText() const
{
    return mmScript->toPlainText();
}

TRestorePage::TFolders TRestorePage::Folders() const
{
    return {edDataDir->text(), edLogDir->text(), edServerDir->text()};
}

void TRestorePage::SetFolders(const TFolders& folders)
{
    edDataDir->setText(folders.DataDir);
    edLogDir->setText(folders.LogDir);
    edServerDir->setText(folders.ServerDir);
    WriteScript();
}

void TRestorePage::CopyScript() const
{
    QApplication::clipboard()->setText(ScriptText());
}
