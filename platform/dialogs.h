#pragma once

#include "platform/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::dialogs {

// Message boxes. Every box is recorded in the machine journal as
// "messagebox.show" (fields text, caption, buttons, icon, default, answer,
// how). In an automated run it is answered at once from the machine's queue
// of answers (queueAnswer), or with its default button when the queue is
// empty; otherwise the dialog program shows it to the user.

// The platform's style flags, with their values. A style is one buttons
// value, one icon value and one default-button value added together.
inline constexpr uint32_t MB_OK = 0x0;
inline constexpr uint32_t MB_OKCANCEL = 0x1;
inline constexpr uint32_t MB_ABORTRETRYIGNORE = 0x2;
inline constexpr uint32_t MB_YESNOCANCEL = 0x3;
inline constexpr uint32_t MB_YESNO = 0x4;
inline constexpr uint32_t MB_RETRYCANCEL = 0x5;
inline constexpr uint32_t MB_CANCELTRYCONTINUE = 0x6;
inline constexpr uint32_t MB_ICONHAND = 0x10;
inline constexpr uint32_t MB_ICONQUESTION = 0x20;
inline constexpr uint32_t MB_ICONEXCLAMATION = 0x30;
inline constexpr uint32_t MB_ICONASTERISK = 0x40;
inline constexpr uint32_t MB_DEFBUTTON1 = 0x0;
inline constexpr uint32_t MB_DEFBUTTON2 = 0x100;
inline constexpr uint32_t MB_DEFBUTTON3 = 0x200;
inline constexpr uint32_t MB_DEFBUTTON4 = 0x300;

// The platform's answers, with their values (IDOK 1 ... IDNO 7).
enum class Answer : int32_t {
    Ok = 1,
    Cancel = 2,
    Abort = 3,
    Retry = 4,
    Ignore = 5,
    Yes = 6,
    No = 7,
    TryAgain = 10,
    Continue = 11,
};

enum class Buttons : uint32_t {
    Ok = MB_OK,
    OkCancel = MB_OKCANCEL,
    AbortRetryIgnore = MB_ABORTRETRYIGNORE,
    YesNoCancel = MB_YESNOCANCEL,
    YesNo = MB_YESNO,
    RetryCancel = MB_RETRYCANCEL,
    CancelTryContinue = MB_CANCELTRYCONTINUE,
};

enum class Icon : uint32_t {
    None = 0,
    Hand = MB_ICONHAND,
    Question = MB_ICONQUESTION,
    Exclamation = MB_ICONEXCLAMATION,
    Asterisk = MB_ICONASTERISK,
};

// A style taken apart. Flags this stand-in has no use for (modality,
// foreground, right-to-left...) are accepted and ignored.
struct Style {
    Buttons buttons { Buttons::Ok };
    Icon icon { Icon::None };
    // 0 for the first button.
    uint32_t defaultIndex { 0 };

    // 87 for a buttons, icon or default-button value the platform does not
    // define.
    static Result<Style> fromFlags(uint32_t flags);
};

// The answers of the buttons, left to right.
std::vector<Answer> buttonAnswers(Buttons buttons);
// The answer of the default button; the first button when the style names a
// default the box does not have, as the platform does.
Answer defaultAnswer(const Style& style);

// "IDOK"; a number for a value without a name.
std::string answerName(Answer answer);
// "IDOK", "idyes" or a number that the platform uses as an answer.
std::optional<Answer> parseAnswer(std::string_view text);
// "MB_OKCANCEL"
std::string_view buttonsName(Buttons buttons);

// Shows a message box and waits for its answer. `owner` is the owner
// window's value, 0 for none. 87 for a style that names no box.
Result<Answer> messageBox(uint64_t owner, std::u16string_view text, std::u16string_view caption, uint32_t style);

// How boxes are answered on this machine; automatic unless switched off
// (the machine's "messagebox.automatic" setting: "1" or "0").
enum class Answering {
    Automatic, // from the queue, else the default button
    Interactive, // by the user through the dialog program, when there is a display
};
Answering answering();
Status setAnswering(Answering mode);

// The queue of answers for automatic boxes, shared by every process of the
// machine: each queued answer is taken by exactly one box, in order.
Status queueAnswer(Answer answer);
std::vector<Answer> queuedAnswers();
// Takes the oldest queued answer, if any.
std::optional<Answer> takeAnswer();

} // namespace platform::dialogs
