#include "troubleshooting.h"

namespace troubleshooting {
namespace {

QString blanks(int count) {
    return QString(count, QLatin1Char(' '));
}

// The texts before and after the forum address gap.
QString beforeGap(const QString& supportContact) {
    return QStringLiteral(
               "问：为何输入扩展名，点击“查询”（或按Ctrl+S）后，弹出的网页显示“网页未找到”？") +
           blanks(3) +
           QStringLiteral("答：请检查一下您的拼写是否正确，若正确，那就是本软件还未收录此扩展名，您"
                          "可以联系QQ：") +
           supportContact + QStringLiteral("来进行提醒。") + blanks(147) +
           QStringLiteral(
               "问：为何输入扩展名，点击“查询”（或按Ctrl+S）后，弹出的网页显示“无法显示该页”？") +
           blanks(3) + QStringLiteral("答：请检查一下您的电脑是否已经正确的连入网络。") +
           blanks(122) + QStringLiteral("问：假如某个扩展名未找到，是否需要到“Zorv电子科技论坛（");
}

constexpr int gapLength = 22;

QString afterGap() {
    return QStringLiteral("）”下载本软件的最新版本？") + blanks(65) +
           QStringLiteral(
               "答：不需要，因为本软件采用的是网络更新，只要您的网络保持畅通，本软件的数据库也在岁"
               "时的更新（而且不占您计算机的磁盘空间哦~~），数据库均在网络。") +
           blanks(110) + QStringLiteral("问：那新版本和旧版本有什么区别呢？") + blanks(49) +
           QStringLiteral("答：新版本更新的是功能和界面，您用的哪个版本，就是哪个专用数据库，数据库"
                          "也在不断的更新中，而新的功能就会有新的专用数据库，是和这个数据库没有关系"
                          "，而且新的数据库也在不停的更新中。");
}

} // namespace

QString text(const QString& supportContact) {
    return beforeGap(supportContact) + blanks(gapLength) + afterGap();
}

Span forumGap(const QString& supportContact) {
    return {beforeGap(supportContact).size(), gapLength};
}

} // namespace troubleshooting
