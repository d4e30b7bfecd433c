#include "HelperTexts.h"

#include "NetInfo.h"

#include <cerrno>

using helper::Refusal;

QString startFailureText(const helper::StartResult& r)
{
    const QString path = QString::fromStdString(r.path);
    switch (r.error) {
    case helper::StartError::None:
        return {};
    case helper::StartError::Missing:
        return QStringLiteral("補助プログラム torvane-helper が見つかりません. "
                              "Torvaneをインストールし直してください.");
    case helper::StartError::NotInGroup:
        return QStringLiteral(
            "カードの検索はtorvaneグループのユーザーだけが行えます. "
            "「sudo usermod -aG torvane $USER」を実行し, ログインし直してください.");
    case helper::StartError::NoPrivilege:
        return QStringLiteral("補助プログラム %1 にUDPポート67を使う権限がありません. "
                              "「sudo setcap cap_net_bind_service,cap_net_admin,cap_net_raw+ep "
                              "%1」で権限を与えてください.")
            .arg(path);
    case helper::StartError::PortInUse: {
        const PortHolder h = udpPortHolder(67);
        QString who = QStringLiteral("他のプログラム");
        if (!h.program.isEmpty()) {
            who += QStringLiteral(" (%1, pid %2)").arg(h.program).arg(h.pid);
        } else if (!h.user.isEmpty()) {
            who += QStringLiteral(" (ユーザー %1, プログラム名は不明)").arg(h.user);
        } else {
            who += QStringLiteral(" (不明)");
        }
        return QStringLiteral("UDPポート67は%1が使用中です. そのプログラムを終了してから, "
                              "もう一度検索を開始してください.")
            .arg(who);
    }
    case helper::StartError::Died:
        return QStringLiteral("補助プログラム torvane-helper が起動しませんでした.");
    case helper::StartError::Other:
        break;
    }
    return QStringLiteral("補助プログラム torvane-helper を起動できません (%1).")
        .arg(QString::fromStdString(r.detail));
}

int answerCode(const helper::Answer& a)
{
    return a.refused() ? -static_cast<int>(a.refusal) : a.error;
}

QString commandFailureText(const helper::Answer& a)
{
    if (a.refusal == Refusal::KernelQuery) {
        return QStringLiteral("このPCのネットワーク設定を読み取れませんでした");
    }
    switch (answerCode(a)) {
    case -static_cast<int>(Refusal::BadAddress):
        return QStringLiteral("カードに使えないIPアドレスです");
    case -static_cast<int>(Refusal::BadMask):
        return QStringLiteral("サブネットマスクが正しくありません");
    case -static_cast<int>(Refusal::BadGateway):
        return QStringLiteral("ゲートウェイがサブネットの外です");
    case -static_cast<int>(Refusal::LocalAddress):
        return QStringLiteral("このPCのIPアドレスです");
    case -static_cast<int>(Refusal::SubnetEdge):
        return QStringLiteral("ネットワークアドレスかブロードキャストアドレスです");
    case -static_cast<int>(Refusal::GatewayAddress):
        return QStringLiteral("ゲートウェイのIPアドレスです");
    case -static_cast<int>(Refusal::OtherMac):
        return QStringLiteral("他の機器が使用中のIPアドレスです");
    case -static_cast<int>(Refusal::BadMac):
        return QStringLiteral("カードのMACアドレスが正しくありません");
    case -static_cast<int>(Refusal::Expired):
        return QStringLiteral("カードの要求から時間が経ちすぎました");
    case EPERM:
    case EACCES:
        return QStringLiteral("権限がありません");
    case ENODEV:
    case ENXIO:
        return QStringLiteral("インタフェースがありません");
    case EPIPE:
        return QStringLiteral("補助プログラムが終了しました");
    case ETIMEDOUT:
        return QStringLiteral("補助プログラムが応答しません");
    default:
        break;
    }
    return QStringLiteral("%1 (%2)").arg(
        a.refused() ? QStringLiteral("補助プログラムが拒否しました") : QStringLiteral("エラー"),
        QString::fromStdString(a.reason));
}
