#include "window/enginetext.h"

#include <string>

#include <QCoreApplication>

namespace veltrano {
namespace {

// The translation tools find texts only as literals; these are the engine's, word for word.
[[maybe_unused]] constexpr const char *kEngineTexts[] = {
        QT_TRANSLATE_NOOP("EngineText", "檔名"),
        QT_TRANSLATE_NOOP("EngineText", "副檔名"),
        QT_TRANSLATE_NOOP("EngineText", "檔案大小"),
        QT_TRANSLATE_NOOP("EngineText", "修改日期"),
        QT_TRANSLATE_NOOP("EngineText", "包含"),
        QT_TRANSLATE_NOOP("EngineText", "等於"),
        QT_TRANSLATE_NOOP("EngineText", "大於"),
        QT_TRANSLATE_NOOP("EngineText", "小於"),
        QT_TRANSLATE_NOOP("EngineText", "無"),
        QT_TRANSLATE_NOOP("EngineText", "且"),
        QT_TRANSLATE_NOOP("EngineText", "或"),
        QT_TRANSLATE_NOOP("EngineText", "且否"),
        QT_TRANSLATE_NOOP("EngineText", "搜尋日期"),
        QT_TRANSLATE_NOOP("EngineText", "條件一"),
        QT_TRANSLATE_NOOP("EngineText", "條件二"),
        QT_TRANSLATE_NOOP("EngineText", "條件三"),
        QT_TRANSLATE_NOOP("EngineText", "讀取紀錄時發生錯誤"),
        QT_TRANSLATE_NOOP("EngineText", "寫入紀錄時發生錯誤"),
        QT_TRANSLATE_NOOP("EngineText", "所有快取資料"),
        QT_TRANSLATE_NOOP("EngineText", "工作"),
        QT_TRANSLATE_NOOP("EngineText", "準備"),
        QT_TRANSLATE_NOOP("EngineText", "完成"),
        QT_TRANSLATE_NOOP("EngineText", "失敗"),
};

} // namespace

QString engineText(std::string_view text)
{
    const std::string source(text); // translate() reads up to a NUL
    return QCoreApplication::translate("EngineText", source.c_str());
}

} // namespace veltrano
