// The mailer window's estimate before Send Now: the address file's customers
// at the pace of the server's provider profile, within the day's allowance
// that earlier runs of the same account left.
#include "app/mailer/EmailForm.h"

#include "common/AddressFile.h"
#include "common/TextFiles.h"
#include "mailer/ProviderProfile.h"
#include "mailer/SentToday.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>

namespace og {

void TemailForm::showEstimate()
{
    if (!Estimate)
        return;
    const MailerSettings s = settingsFromControls();
    const QFileInfo file(s.addressFile);
    if (s.server.trimmed().isEmpty() || !file.isFile()) {
        Estimate->clear();
        return;
    }
    if (file.absoluteFilePath() != estimateFile_ || file.lastModified() != estimateStamp_) {
        QStringList lines;
        bool exists = false;
        QString error;
        estimateCustomers_ =
            readListFile(file.absoluteFilePath(), &lines, &exists, &error) ? int(addressRecords(lines).size()) : -1;
        estimateFile_ = file.absoluteFilePath();
        estimateStamp_ = file.lastModified();
    }
    if (estimateCustomers_ <= 0) {
        Estimate->clear();
        return;
    }
    // The window's values are saved settings: the profile lowers them.
    const ProviderProfile profile = chooseProfile(s.server, SettingsPath, s.provider);
    const Pace pace = paceFor(profile, s.ratePerMinute, s.connections, false, false);
    const QDateTime now = QDateTime::currentDateTime();
    const DayAllowance day = SentToday(ProgramFolder).allowance(profile, SentToday::account(profile, s), now);
    QString text = profile.name + QStringLiteral(": ") + runEstimate(estimateCustomers_, pace.perMinute, day);
    if (!pace.lowered.isEmpty())
        text += QStringLiteral(" (the profile lowers %1)").arg(pace.lowered.join(QStringLiteral(" and ")));
    Estimate->setText(text);
}

} // namespace og
