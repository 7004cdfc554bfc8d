#!/usr/bin/env bash
# The main job: sets up a fresh Debian 12 machine, builds the station, and runs a notification
# campaign on simulated lines. A demonstration home gets the standard lexeme catalogue and a
# synthesised phrase library, a table of 200 debtors, a binding and a task (greeting, debt sum,
# date, address) scheduled for the next few minutes, and four simulated lines whose parties
# answer, listen late, never answer or hang up. The headless station calls them until the task's
# time window closes; then the table itself tells who was notified and who was not.
#
# With --sip the same campaign goes over SIP: five SIPp far ends on 127.0.0.1 answer (one late),
# hang up early, are busy or never answer, each behind a trunk of its own, and the station calls
# them through five SIP channels. Afterwards the first debtor's call is placed once more with
# peltra-line, and what the far end sent back (it echoes what it heard) is kept as a WAV file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sip=false
if [[ "${1:-}" == --sip ]]; then
  sip=true
elif [[ $# -gt 0 ]]; then
  echo "usage: bash scripts/demo.sh [--sip]" >&2
  exit 2
fi
bash "$root/scripts/install-deps.sh" station $($sip && echo sip)
# Only the station and the tools the campaign runs, without debug information; the tests and
# benchmarks are the test command's.
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELTRA_BUILD_TESTS=OFF \
  -DPELTRA_BUILD_BENCH=OFF
cmake --build "$root/build" --parallel "$(nproc)" \
  --target peltra peltra-reg peltra-lexicon peltra-sql peltra-task peltra-say peltra-report peltra-line

bin=$root/build/bin
home=$root/demo-home
rm -rf "$home"
mkdir -p "$home"
minutes=${PELTRA_DEMO_MINUTES:-3}

reg=("$bin/peltra-reg" --home "$home")
# The SIP far ends: name, SIPp scenario, its keys. Each listens on 127.0.0.1 only.
far_ends=(
  "answer|answer|-rtp_echo -key ring_ms 400 -key codec_pt 8 -key codec_name PCMA"
  "late|answer|-key ring_ms 2500 -key codec_pt 0 -key codec_name PCMU"
  "hangup|hangup|-key ring_ms 300 -key talk_ms 700 -key codec_pt 8 -key codec_name PCMA"
  "busy|reject|-key reject_code 486"
  "silent|ring|"
)
sipp_pids=()
stop_far_ends() {
  if [[ ${#sipp_pids[@]} -gt 0 ]]; then
    kill "${sipp_pids[@]}" 2>/dev/null || true
    wait "${sipp_pids[@]}" 2>/dev/null || true
    sipp_pids=()
  fi
}
trap stop_far_ends EXIT

if $sip; then
  echo "== The station's settings: five SIP channels SIP1..SIP5, each on a trunk of its own"
  "${reg[@]}" import "$root/examples/demo-station.reg"
  "${reg[@]}" delete 'Software\PELTRA\Ports'
  ports=()
  for i in "${!far_ends[@]}"; do
    IFS='|' read -r name scenario keys <<<"${far_ends[$i]}"
    n=$((i + 1)) sip_port=$((15060 + i)) media_port=$((16000 + 10 * i))
    mkdir -p "$home/far-ends/$name"
    # shellcheck disable=SC2086
    sipp -sf "$root/tests/sip/scenarios/$scenario.xml" -i 127.0.0.1 -mi 127.0.0.1 -ci 127.0.0.1 \
      -cp $((18888 + i)) -p "$sip_port" -mp "$media_port" -nostdin -deadcall_wait 0 $keys \
      -trace_msg -message_file "$home/far-ends/$name/messages.log" \
      -trace_stat -stf "$home/far-ends/$name/stat.csv" >"$home/far-ends/$name/sipp.out" 2>&1 &
    sipp_pids+=($!)
    trunk='Software\PELTRA\Sip\'$name
    "${reg[@]}" set "$trunk" Proxy --sz "sip:127.0.0.1:$sip_port"
    "${reg[@]}" set "$trunk" Domain --sz 127.0.0.1
    "${reg[@]}" set "$trunk" LocalAddress --sz 127.0.0.1
    "${reg[@]}" set "$trunk" User --sz peltra
    "${reg[@]}" set "$trunk" RtpPortMin --dword $((20000 + 1000 * i))
    "${reg[@]}" set "$trunk" RtpPortMax --dword $((20999 + 1000 * i))
    port='Software\PELTRA\Ports\SIP'$n
    "${reg[@]}" set "$port" Trunk --sz "$name"
    "${reg[@]}" set "$port" WaitAnswer --dword 4
    "${reg[@]}" set "$port" DelayFirst --dword 100
    "${reg[@]}" set "$port" RingOff --dword 250
    ports+=("SIP$n")
    printf '   SIP%s -> trunk %-7s -> SIPp far end on 127.0.0.1:%s (%s)\n' "$n" "$name" "$sip_port" "$scenario $keys"
  done
  for p in "${ports[@]}"; do "${reg[@]}" set 'Software\PELTRA\Ports' "$p" --sz "$p"; done
else
  echo "== The station's settings: four simulated lines SIM1..SIM4, tone dialing, short waits"
  "${reg[@]}" import "$root/examples/demo-station.reg"
fi

echo
echo "== The standard lexeme catalogue and a phonogram library synthesised from it"
lexicon=("$bin/peltra-lexicon" --home "$home")
"${lexicon[@]}" install-catalogue
"${lexicon[@]}" build 2>/dev/null

echo
echo "== A table of 200 debtors"
sql=("$bin/peltra-sql" --db "$home")
"${sql[@]}" "CREATE TABLE abon.dbf (TELEF char(12), PROBA numeric(3,0), OTBOJ numeric(3,0), DATA date, CLOCK char(8), FIO char(30), SUMMA numeric(10,2), DOM char(6), KV char(6))" >/dev/null
surnames=(Иванов Петров Сидоров Кузнецов Смирнов Попов Васильев Соколов Михайлов Новиков Фёдоров Морозов Волков Алексеев Лебедев Семёнов Егоров Павлов Козлов Степанов)
initials=(А Б В Г Д Е Ж З И К Л М Н О П Р С Т У Ф)
values=()
for i in $(seq 1 200); do
  name="${surnames[$(( (i * 7) % 20 ))]} ${initials[$(( i % 20 ))]}.${initials[$(( (i * 3) % 20 ))]}."
  summa="$(( (i * 7919) % 20000 + 50 )).$(( (i * 13) % 100 ))"
  dom="$(( i % 60 + 1 ))"
  if (( i % 9 == 0 )); then dom+="А"; fi
  values+=("('$(( 2300000 + i * 37 ))', 0, 0, '$name', $summa, '$dom', '$(( i % 120 + 1 ))')")
done
IFS=,
"${sql[@]}" "INSERT INTO abon (TELEF, PROBA, OTBOJ, FIO, SUMMA, DOM, KV) VALUES ${values[*]}" >/dev/null
unset IFS
"${sql[@]}" "SELECT TELEF, FIO, SUMMA, DOM, KV FROM abon LIMIT 5"
echo "... $("${sql[@]}" "SELECT COUNT(*) FROM abon" | tail -1) rows"

echo
echo "== A binding and a task: the debt, the date and the address, from now for $minutes minutes"
task=("$bin/peltra-task" --home "$home")
"${task[@]}" add-binding Газ "$home/abon.dbf" "Должники за газ"
"${task[@]}" add Газ Долг 2>/dev/null
"${task[@]}" sort Газ Долг SUMMA N desc
from=$(date +%H:%M)
to=$(date -d "+$minutes minutes" +%H:%M)
if [[ "$to" < "$from" ]]; then to=24:00; fi
"${task[@]}" add-schedule Газ Долг daily "$from-$to" >/dev/null
for item in 'Фразы\Приветствие' 'Фразы\Ваша задолженность составляет' 'Функции\Сумма (рубли)=SUMMA' \
             'Фразы\По состоянию на' 'Функции\Дата (родительный падеж)=DATA' 'Фразы\По адресу' \
             'Функции\Дом=DOM' 'Функции\Квартира=KV' 'Слова\Служебные\Отметка о доставке' \
             'Фразы\Просим погасить задолженность' 'Фразы\До свидания'; do
  "${task[@]}" add-template Газ Долг "${item%%=*}" $([[ $item == *=* ]] && echo "${item#*=}") >/dev/null 2>&1
done
"${task[@]}" include Газ Долг | tail -2
"${task[@]}" show Газ Долг | grep -E '^(FieldSort|Ascend|Valid|Расписание|Шаблон)'

echo
echo "== What the first debtor hears, as the line delivers it: $home/first-call.wav"
"$bin/peltra-say" --home "$home" template Газ Долг SUMMA=19963.24 DOM=12А KV=5 --wav "$home/first-call.wav" --line | tr '\n' ' '
echo

echo
if $sip; then
  echo "== The station runs headless on the SIP channels until the task's window closes ($from-$to)"
  "$bin/peltra" --headless --home "$home" --until-complete --tick-ms 1000 | grep -v ': Бездействует\|: Выполняется' || true
else
  echo "== The station runs headless on the simulated lines until the task's window closes ($from-$to)"
  "$bin/peltra" --headless --home "$home" --simulate "$root/examples/demo-plan.json" \
    --sim-log "$home/calls.jsonl" --until-complete --tick-ms 1000 | grep -v ': Бездействует\|: Выполняется' || true
fi

echo
echo "== Who was notified, and who was not: the table itself"
"${sql[@]}" "SELECT CASE WHEN DATA IS NULL THEN 'not notified' ELSE 'notified' END AS outcome, COUNT(*) AS people, SUM(PROBA) AS calls, SUM(OTBOJ) AS hung_up FROM abon GROUP BY 1"
echo
echo "-- notified (the ten largest debts)"
"${sql[@]}" "SELECT TELEF, FIO, SUMMA, DATA, CLOCK, PROBA AS attempts FROM abon WHERE DATA IS NOT NULL ORDER BY SUMMA DESC LIMIT 10"
echo
echo "-- called, but not notified"
"${sql[@]}" "SELECT TELEF, FIO, SUMMA, PROBA AS attempts, OTBOJ AS hung_up FROM abon WHERE DATA IS NULL AND PROBA > 0 ORDER BY SUMMA DESC"
echo
echo "-- not reached before the window closed: $("${sql[@]}" "SELECT COUNT(*) FROM abon WHERE PROBA = 0" | tail -1) people"
echo
echo "== The results report for the manager: notified today, with the total of their debts"
report=("$bin/peltra-report" --home "$home")
today=$(date +%d/%m/%Y)
"${report[@]}" Газ Долг --mode 1 --from "$today" --to "$today" --sum SUMMA --text > "$home/notified.txt"
head -8 "$home/notified.txt"
echo "   ..."
tail -3 "$home/notified.txt"
"${report[@]}" Газ Долг --mode 1 --from "$today" --to "$today" --sum SUMMA --pdf "$home/notified.pdf"
"${report[@]}" Газ Долг --mode 2 --csv "$home/not-notified.csv"
echo "The whole report, printable: $home/notified.pdf; those still to notify, for a spreadsheet: $home/not-notified.csv"
echo
if ! $sip; then
  echo "The simulated exchange's own log of every call: $home/calls.jsonl ($(wc -l < "$home/calls.jsonl") calls)"
  exit 0
fi

first=$("${sql[@]}" "SELECT TELEF FROM abon ORDER BY SUMMA DESC LIMIT 1" | tail -1 | tr -d ' ')
first_row=$("${sql[@]}" "SELECT SUMMA, DOM, KV FROM abon ORDER BY SUMMA DESC LIMIT 1" | tail -1)
read -r summa dom kv <<<"$(tr '|,;\t' '    ' <<<"$first_row")"
echo
echo "== The first debtor ($first) called once more on SIP1 with peltra-line; the far end echoes what it heard"
phrases=$("$bin/peltra-say" --home "$home" template Газ Долг "SUMMA=$summa" "DOM=$dom" "KV=$kv" | paste -sd,)
"$bin/peltra-line" --home "$home" call --port SIP1 --library "$home/peltra.awf" --phrases "$phrases" \
  --record "$home/first-call-heard.wav" "$first" | grep -E '^(sip|result|recorded)'
stop_far_ends
echo
echo "== What the far ends logged: calls each one received"
for entry in "${far_ends[@]}"; do
  IFS='|' read -r name scenario keys <<<"$entry"
  printf '   %-7s %4s INVITEs  (%s)\n' "$name" "$(grep -c '^INVITE sip:' "$home/far-ends/$name/messages.log" || true)" \
    "$home/far-ends/$name/messages.log"
done
echo "The first call's audio as it came back from the far end: $home/first-call-heard.wav"
