#include "window/aboutdialog.h"

#include "window/artwork.h"
#include "window/mainwindow.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

QString versionText(int major, int minor, int revision) {
    return QStringLiteral("Version %1.%2.%3").arg(major).arg(minor).arg(revision);
}

AboutDialog::AboutDialog(QWidget *owner) : QDialog(owner) {
    setObjectName(QStringLiteral("AboutDialog"));
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

    auto *logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("logo"));
    logo->setGeometry(twips(1440), twips(240), twips(1560), twips(360));
    logo->setPixmap(Artwork::makerLogo(devicePixelRatioF()));
    logo->setAccessibleName(QStringLiteral("Vellmore logo"));

    QLabel *productLabel = label("productLabel", QStringLiteral("Stowline"), 360, 1080, 1695, 255);
    QLabel *versionLabel = label("versionLabel", QString(), 720, 1320, 1095, 225);
    QLabel *makerLabel =
        label("makerLabel", QStringLiteral("Vellmore"), 2400, 1080, 2175, 255, centred);
    QLabel *streetLabel =
        label("streetLabel", QStringLiteral("14 Quarry Lane"), 2400, 1320, 2175, 255, centred);
    QLabel *townLabel = label("townLabel", QStringLiteral("Ashby AB1 2CD, Norland"), 2400, 1560,
                              2175, 255, centred);
    QLabel *phoneLabel = label("phoneLabel", QStringLiteral("Tel. +00 123 456 7890"), 2280, 1800,
                               2415, 255, centred);
    QLabel *webLabel =
        label("webLabel", QStringLiteral("www.vellmore.example"), 2280, 2040, 2415, 255, centred);

    // An etched rule: the sunken line draws the grey and white pair.
    auto *line = new QFrame(this);
    line->setObjectName(QStringLiteral("rule"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(twips(225), twips(2430) - 1, twips(4560) - twips(225), 3);

    QLabel *disclaimerLabel =
        label("disclaimerLabel", QStringLiteral("Provided as is, without any warranty."), 255, 2625,
              2190, 825, Qt::AlignLeft | Qt::AlignTop);
    disclaimerLabel->setWordWrap(true);
    QFont small = disclaimerLabel->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    disclaimerLabel->setFont(small);

    for (QLabel *lbl : {productLabel, makerLabel, streetLabel, townLabel, phoneLabel, webLabel})
        fit(lbl);

    auto *okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setGeometry(twips(2880), twips(2625), twips(1467), twips(345));
    okButton->setDefault(true);
    okButton->setAutoDefault(true);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept); // Esc rejects: closes too

    versionLabel->setText(
        versionText(STOWLINE_VERSION_MAJOR, STOWLINE_VERSION_MINOR, STOWLINE_VERSION_PATCH));
    versionLabel->setAccessibleName(versionLabel->text());
    const int needed = versionLabel->sizeHint().width();
    if (needed > versionLabel->width())
        versionLabel->resize(needed, versionLabel->height());
}
