#include "frmabout.h"

#include "artwork.h"
#include "frmmain.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

QString versionText(int major, int minor, int revision) {
    return QStringLiteral("Version %1.%2.%3").arg(major).arg(minor).arg(revision);
}

frmAbout::frmAbout(QWidget *owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Information"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint);
    setFixedSize(twips(4770), twips(3105));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto label = [this](const char *name, const QString &text, int l, int t, int w, int h,
                        Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
        auto *lbl = new QLabel(text, this);
        lbl->setObjectName(QLatin1String(name));
        lbl->setGeometry(twips(l), twips(t), twips(w), twips(h));
        lbl->setAlignment(align);
        lbl->setAccessibleName(text);
        return lbl;
    };
    // Fonts differ between systems: a text wider than its design box widens the box (about
    // its centre line for centred labels) rather than being clipped.
    auto fit = [this](QLabel *lbl) {
        const int needed = lbl->sizeHint().width();
        QRect box = lbl->geometry();
        if (needed <= box.width())
            return;
        const int grow = needed - box.width();
        if (lbl->alignment() & Qt::AlignHCenter)
            box.adjust(-(grow + 1) / 2, 0, grow / 2 + 1, 0);
        else
            box.setWidth(needed);
        lbl->setGeometry(box.intersected(rect()));
    };
    const Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignVCenter;

    picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setGeometry(twips(1440), twips(240), twips(1560), twips(360));
    picIcon->setPixmap(Artwork::makerLogo(devicePixelRatioF()));
    picIcon->setAccessibleName(QStringLiteral("Vellmore logo"));

    Label6 = label("Label6", QStringLiteral("Stowline"), 360, 1080, 1695, 255);
    lblVersion = label("lblVersion", QString(), 720, 1320, 1095, 225);
    Label1 = label("Label1", QStringLiteral("Vellmore"), 2400, 1080, 2175, 255, centred);
    Label2 = label("Label2", QStringLiteral("14 Quarry Lane"), 2400, 1320, 2175, 255, centred);
    Label3 =
        label("Label3", QStringLiteral("Ashby AB1 2CD, Norland"), 2400, 1560, 2175, 255, centred);
    Label4 =
        label("Label4", QStringLiteral("Tel. +00 123 456 7890"), 2280, 1800, 2415, 255, centred);
    Label5 =
        label("Label5", QStringLiteral("www.vellmore.example"), 2280, 2040, 2415, 255, centred);

    // An etched rule: the sunken line draws the grey and white pair.
    auto *line = new QFrame(this);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(twips(225), twips(2430) - 1, twips(4560) - twips(225), 3);

    lblDisclaimer = label("lblDisclaimer", QStringLiteral("Provided as is, without any warranty."),
                          255, 2625, 2190, 825, Qt::AlignLeft | Qt::AlignTop);
    lblDisclaimer->setWordWrap(true);
    QFont small = lblDisclaimer->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    lblDisclaimer->setFont(small);

    for (QLabel *lbl : {Label6, Label1, Label2, Label3, Label4, Label5})
        fit(lbl);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twips(2880), twips(2625), twips(1467), twips(345));
    cmdOK->setDefault(true);
    cmdOK->setAutoDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept); // Esc rejects: closes too

    Form_Load();
}

void frmAbout::Form_Load() {
    lblVersion->setText(
        versionText(STOWLINE_VERSION_MAJOR, STOWLINE_VERSION_MINOR, STOWLINE_VERSION_PATCH));
    lblVersion->setAccessibleName(lblVersion->text());
    const int needed = lblVersion->sizeHint().width();
    if (needed > lblVersion->width())
        lblVersion->resize(needed, lblVersion->height());
}
