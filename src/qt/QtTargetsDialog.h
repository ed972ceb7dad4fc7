#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "QtControls.h"
#include "platform/TargetsDialog.h"

// Modal to its window only, and opened without a nested event loop, so the
// window keeps ticking behind it. One at a time: asking again raises it.
class QtTargetsDialog : public TargetsDialog {
public:
    explicit QtTargetsDialog(QWidget* window) : window_(window) {}

    void show(const Texts& t, const std::string& text,
              std::function<std::string(const std::string&)> save) override {
        if (open_) {
            open_->raise();
            open_->activateWindow();
            return;
        }
        auto* dialog = new QDialog(window_);
        dialog->setObjectName("targetsDialog");
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowTitle(QString::fromStdString(t.title));
        dialog->resize(460, 300);
        auto* layout = new QVBoxLayout(dialog);

        auto* explanation = new QLabel(QString::fromStdString(t.explanation), dialog);
        explanation->setTextFormat(Qt::PlainText);
        explanation->setWordWrap(true);
        auto* edit = new QPlainTextEdit(dialog);
        edit->setObjectName("targetsEdit");
        edit->setTabChangesFocus(true);  // Tab must leave the text, not insert into it
        edit->setPlainText(QString::fromStdString(text));
        auto* caption = new QLabel(dialog);
        caption->setTextFormat(Qt::PlainText);
        caption->setBuddy(edit);
        caption->setText(titleWithMnemonic(QString::fromStdString(t.label),
                                           QString::fromStdString(t.labelAccess.mnemonic)));
        applyAccess(edit, {"", t.labelAccess.name, t.labelAccess.description});
        // The reason a text was refused, until the user edits it.
        auto* error = new QLabel(dialog);
        error->setObjectName("targetsError");
        error->setTextFormat(Qt::PlainText);
        error->setWordWrap(true);
        QPalette red = error->palette();
        red.setColor(QPalette::WindowText, QColor(0xa8, 0x00, 0x00));
        error->setPalette(red);
        error->hide();

        auto* buttons = new QDialogButtonBox(dialog);
        QPushButton* saveButton = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
        saveButton->setObjectName("targetsSave");
        QPushButton* cancelButton = buttons->addButton(QString(), QDialogButtonBox::RejectRole);
        for (const auto& [button, text] :
             {std::pair{saveButton, &t.save}, std::pair{cancelButton, &t.cancel}}) {
            button->setText(titleWithMnemonic(QString::fromStdString(text->title),
                                              QString::fromStdString(text->access.mnemonic)));
            applyAccess(button, text->access, true);
        }
        layout->addWidget(explanation);
        layout->addWidget(caption);
        layout->addWidget(edit, 1);
        layout->addWidget(error);
        layout->addWidget(buttons);

        const QString description = edit->accessibleDescription();
        QObject::connect(saveButton, &QPushButton::clicked, dialog, [=] {
            const std::string refused = save(edit->toPlainText().toStdString());
            if (refused.empty()) return dialog->accept();
            error->setText(QString::fromStdString(refused));
            error->show();
            // A screen reader reads the reason with the text it belongs to.
            edit->setAccessibleDescription(error->text());
            edit->setFocus();
        });
        QObject::connect(edit, &QPlainTextEdit::textChanged, dialog, [=] {
            error->hide();
            edit->setAccessibleDescription(description);
        });
        QObject::connect(cancelButton, &QPushButton::clicked, dialog, &QDialog::reject);
        dialog->setWindowModality(Qt::WindowModal);
        edit->setFocus();
        dialog->open();
        open_ = dialog;
    }

private:
    QWidget* window_;
    QPointer<QDialog> open_;
};
