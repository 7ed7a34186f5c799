#include "ui/AboutForm.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/Version.h"
#include "ui/AppIcon.h"
#include "ui/Manual.h"

namespace velkor {

QString ProductName() { return QStringLiteral("Velkor"); }
QString FileVersion() { return QStringLiteral(VELKOR_VERSION); }

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowTitle(ProductName());

  auto* icon = new QLabel(this);
  icon->setPixmap(AppIconPixmap(64, devicePixelRatioF()));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  auto boldLabel = [this](const QString& text) {
    auto* label = new QLabel(text, this);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
  };
  m_version = boldLabel(tr("Версия продукта: ") + FileVersion());
  m_version->setObjectName(QStringLiteral("VersionLabel"));
  auto* notice = boldLabel(tr("Эмулятор ведомых устройств Modbus.\n© Разработчики Velkor"));

  // The link takes the palette's link colour, so a dark theme keeps it readable.
  const QString url = ManualUrl();
  m_link = new QLabel(this);
  m_link->setObjectName(QStringLiteral("ManualLink"));
  if (url.isEmpty()) {
    m_link->setText(tr("Руководство пользователя не установлено"));
  } else {
    m_link->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                        .arg(url.toHtmlEscaped(), tr("Руководство пользователя").toHtmlEscaped()));
    m_link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    m_link->setCursor(Qt::PointingHandCursor);
    connect(m_link, &QLabel::linkActivated, this,
            [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });
  }

  auto* text = new QVBoxLayout;
  text->addWidget(m_version);
  text->addWidget(notice);
  text->addWidget(m_link);
  text->addStretch(1);

  auto* body = new QHBoxLayout;
  body->addWidget(icon);
  body->addSpacing(8);
  body->addLayout(text, 1);

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body, 1);
  layout->addWidget(buttons);

  setFixedSize(sizeHint().expandedTo(QSize(322, 151)));
}

void TAboutForm::Execute(QWidget* parent) {
  TAboutForm form(parent);
  form.exec();
}

}  // namespace velkor
