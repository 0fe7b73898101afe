#include "view/compare_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "registry/key_path.h"
#include "ui/qt_text.h"
#include "ui/translated.h"

CCompareDlg::CCompareDlg(const QString& key, QWidget* parent) : QDialog(parent) {
    setWindowTitle(Tovik::tr("比較"));
    auto* form = new QFormLayout(this);
    m_kind = new QComboBox(this);
    m_kind->addItem(Tovik::tr("このレジストリのキー"), static_cast<int>(CompareTarget::Kind::ThisRegistry));
    m_kind->addItem(Tovik::tr("登録ファイル(*.reg)"), static_cast<int>(CompareTarget::Kind::RegFile));
    m_kind->addItem(Tovik::tr("Tovik レジストリ ファイル"), static_cast<int>(CompareTarget::Kind::StoreFile));
    m_kind->addItem(Tovik::tr("Wine プレフィックス"), static_cast<int>(CompareTarget::Kind::WinePrefix));
    m_kind->addItem(Tovik::tr("バックアップファイル"), static_cast<int>(CompareTarget::Kind::BackupFile));
    m_kind->addItem(Tovik::tr("Windows フォルダー"), static_cast<int>(CompareTarget::Kind::Windows));
    m_kind->addItem(Tovik::tr("ハイブ ファイル"), static_cast<int>(CompareTarget::Kind::Hive));
    form->addRow(Tovik::tr("比較する相手:"), m_kind);
    auto* where = new QHBoxLayout;
    m_location = new QLineEdit(this);
    auto* browse = new QPushButton(Tovik::tr("参照..."), this);
    where->addWidget(m_location, 1);
    where->addWidget(browse);
    form->addRow(Tovik::tr("ファイル・フォルダ:"), where);
    m_mountAs = new QLineEdit(this);
    m_mountAs->setPlaceholderText(QStringLiteral("HKLM\\SOFTWARE"));
    form->addRow(Tovik::tr("ハイブの位置:"), m_mountAs);
    m_key = new QLineEdit(key, this);
    form->addRow(Tovik::tr("キー:"), m_key);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    const auto kindChanged = [this, browse, form] {
        const int kind = m_kind->currentData().toInt();
        const bool elsewhere = kind != static_cast<int>(CompareTarget::Kind::ThisRegistry);
        m_location->setEnabled(elsewhere);
        browse->setEnabled(elsewhere);
        form->setRowVisible(m_mountAs, kind == static_cast<int>(CompareTarget::Kind::Hive));
    };
    connect(m_kind, &QComboBox::currentIndexChanged, this, kindChanged);
    kindChanged();
    connect(browse, &QPushButton::clicked, this, [this] {
        const auto kind = static_cast<CompareTarget::Kind>(m_kind->currentData().toInt());
        const bool folder = kind == CompareTarget::Kind::WinePrefix || kind == CompareTarget::Kind::Windows;
        const QString chosen = folder ? QFileDialog::getExistingDirectory(this)
                                      : QFileDialog::getOpenFileName(this, QString(), QString(),
                                                                     kind == CompareTarget::Kind::RegFile
                                                                         ? Tovik::tr("登録ファイル(*.reg)")
                                                                         : Tovik::tr("すべてのファイル(*)"));
        if (!chosen.isEmpty()) m_location->setText(chosen);
    });
}

bool CCompareDlg::target(CompareTarget& target) const {
    const tovik::ParsedKeyPath key = tovik::parseKeyPath(toU16View(m_key->text()));
    if (!key.ok()) return false;
    target.kind = static_cast<CompareTarget::Kind>(m_kind->currentData().toInt());
    target.location = m_location->text();
    target.mountAs = m_mountAs->text().trimmed();
    target.root = key.root;
    target.path = key.path;
    return true;
}
