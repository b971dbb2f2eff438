#pragma once

#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace veltrano {

// The three kinds of box the program shows; every box is one of them.
enum TMsgKind : unsigned char {
    mkError = 0,
    mkInformation = 1,
    mkQuestion = 2,
};

// What the boxes return, as the callers compare them.
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// One box as it is about to be shown: owner, title of its kind, text (UTF-8) and kind.
struct MsgBoxRequest
{
    QWidget *owner = nullptr;
    std::string title;
    std::string text;
    TMsgKind kind = mkError;
};

// Shows a box and returns 1, 6 or 7. The default presenter is a modal, topmost QMessageBox;
// tests install one that records the request and answers at once.
using MsgBoxPresenter = std::function<int(const MsgBoxRequest &)>;

// Installs `presenter` (an empty one restores the default) and returns the one it replaces.
MsgBoxPresenter setMsgBoxPresenter(MsgBoxPresenter presenter);

// Shows `text` in a box of `kind` titled with the kind's string-table title. Safe from any
// thread: from another thread the box is shown on the window thread while the caller waits.
int MsgBox(QWidget *owner, std::string_view text, TMsgKind kind);
// The same with string-table entry `id` as the text.
int MsgBoxRes(QWidget *owner, int id, TMsgKind kind);

} // namespace veltrano
