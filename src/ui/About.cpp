#include "ui/About.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "core/Branding.h"
#include "ui/Controls.h"
#include "ui/MainWindow.h"
#include "ui/Shell.h"

namespace murmur {
namespace {

constexpr const char* kCaption = "About - Murmur %v by Halden";
constexpr const char* kHeading = ":: Murmur Server %V by Halden ::";

QLabel* link(const char* name, const char* caption, QWidget* parent) {
    QLabel* l = label(name, caption, parent);
    l->setStyleSheet("color: blue; text-decoration: underline;");
    l->setCursor(Qt::PointingHandCursor);
    return l;
}

}  // namespace

const QStringList frmAbout::thanks = {
    "Everyone who runs a Murmur server",
    "Everyone who writes a client that speaks to one",
    "Everyone who tested this server and told us what they found",
};

frmAbout::frmAbout(Server& server, QWidget* parent) : QDialog(parent), server_(server) {
    setObjectName("frmAbout");
    setAttribute(Qt::WA_DeleteOnClose);
    // The title text already names the server and its author, and both templates name them again;
    // the caption has always read that way.
    const QString title = toQString(server_.titleText);
    setWindowTitle(QString(kCaption).replace("%v", title, Qt::CaseSensitive));

    Label6 = label("Label6", QString(kHeading).replace("%V", title, Qt::CaseSensitive), this);
    Label6->setAlignment(Qt::AlignCenter);
    QFont bold = Label6->font();
    bold.setBold(true);
    Label6->setFont(bold);
    Label1 = label("Label1", "I would like to thank the following people:", this);
    txtThanks = named<QPlainTextEdit>("txtThanks", this);
    txtThanks->setReadOnly(true);
    QString text;
    for (const QString& line : thanks) text += line + "\n";
    txtThanks->setPlainText(text);

    Label3 = link("Label3", "Murmur Home", this);
    Label5 = link("Label5", "What is Murmur?", this);
    Label4 = link("Label4", "Close Window", this);
    for (QLabel* l : {Label3, Label5, Label4}) l->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label6);
    layout->addWidget(Label1);
    layout->addWidget(txtThanks);
    auto* links = new QHBoxLayout;
    links->addWidget(Label3);
    links->addStretch();
    links->addWidget(Label5);
    links->addStretch();
    links->addWidget(Label4);
    layout->addLayout(links);
}

// A link acts when the left button is let go over it, as a button does.
bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseButtonRelease) return QDialog::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    auto* l = qobject_cast<QLabel*>(watched);
    if (mouse->button() != Qt::LeftButton || !l || !l->rect().contains(mouse->position().toPoint()))
        return QDialog::eventFilter(watched, event);
    if (l == Label3) {
        openWebAddress(branding::homeAddress);
    } else if (l == Label5) {
        openWebAddress(branding::networkAddress);
    } else if (l == Label4) {
        close();
    } else {
        return QDialog::eventFilter(watched, event);
    }
    return true;
}

}  // namespace murmur
