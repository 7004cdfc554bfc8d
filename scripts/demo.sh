#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the station and shows what stands so far: a sample
# configuration is imported into a demonstration home folder, read back key by key and printed
# as .reg text; the simulated lines are probed; the standard catalogue and a synthesised phrase
# library are made; a table of subscribers is bound to a task that is defined, tested and
# included; and what the task says to one subscriber is spoken into a WAV file as the line
# delivers it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build"

home=$root/demo-home
rm -rf "$home"
reg=("$root/build/bin/peltra-reg" --home "$home")

echo "== Importing examples/station.reg into $home/registry.db"
"${reg[@]}" import "$root/examples/station.reg"
echo
echo "== The lines: Software\\PELTRA\\Ports"
"${reg[@]}" list 'Software\PELTRA\Ports'
echo
echo "== One port's settings: Software\\PELTRA\\Ports\\COM2"
"${reg[@]}" list 'Software\PELTRA\Ports\COM2'
echo
echo "== The whole store"
"${reg[@]}" export 'Software\PELTRA'
echo
echo "== The simulated lines present"
"$root/build/bin/peltra-line" --home "$home" probe --sim 2 | grep '^SIM'
echo
echo "== What the station says for a debt of 1251,32 hryvnias, a date and a flat"
say=("$root/build/bin/peltra-say" --home "$home")
echo "1251,32:    $("${say[@]}" money hryvnia 1251,32 | tr '\n' ' ')"
echo "2008-03-25: $("${say[@]}" function 3 2008-03-25 | tr '\n' ' ')"
echo "flat 5/2:   $("${say[@]}" function 12 5/2 | tr '\n' ' ')"
echo
echo "== The standard lexeme catalogue and a phonogram library synthesised from it"
lexicon=("$root/build/bin/peltra-lexicon" --home "$home")
"${lexicon[@]}" install-catalogue
"${lexicon[@]}" build 2>/dev/null
"${lexicon[@]}" check

echo
echo "== A table of subscribers, bound to a notification task"
sql=("$root/build/bin/peltra-sql" --db "$home")
"${sql[@]}" "CREATE TABLE abon.dbf (TELEF char(12), PROBA numeric(3,0), OTBOJ numeric(3,0), DATA date, CLOCK char(8), FIO char(30), SUMMA numeric(10,2), DOM char(6), KV char(6))" >/dev/null
"${sql[@]}" "INSERT INTO abon (TELEF, PROBA, OTBOJ, FIO, SUMMA, DOM, KV) VALUES ('2345678', 0, 0, 'Иванов И.И.', 1251.32, '12А', '5'), ('2345679', 0, 0, 'Петров П.П.', 87.5, '7', '21'), ('450105', 0, 0, 'Сидоров С.С.', 15000, '3/1', '140')" >/dev/null
"${sql[@]}" "SELECT TELEF, FIO, SUMMA, DOM, KV FROM abon"
task=("$root/build/bin/peltra-task" --home "$home")
"${task[@]}" add-binding Газ "$home/abon.dbf" "Должники за газ"
"${task[@]}" add Газ Долг
"${task[@]}" sort Газ Долг SUMMA N desc
"${task[@]}" add-schedule Газ Долг daily 09:00-21:00 >/dev/null
for item in 'Фразы\Приветствие' 'Фразы\Ваша задолженность составляет' 'Функции\Сумма (рубли)=SUMMA' \
             'Фразы\По адресу' 'Функции\Дом=DOM' 'Функции\Квартира=KV' 'Слова\Служебные\Отметка о доставке' \
             'Фразы\Просим погасить задолженность' 'Фразы\До свидания'; do
  "${task[@]}" add-template Газ Долг "${item%%=*}" $([[ $item == *=* ]] && echo "${item#*=}") >/dev/null
done
"${task[@]}" include Газ Долг
"${task[@]}" list
"${task[@]}" show Газ Долг

echo
echo "== What Иванов hears: the phrase codes, and $home/ivanov.wav as the line delivers them"
"${say[@]}" template Газ Долг SUMMA=1251.32 DOM=12А KV=5 --wav "$home/ivanov.wav" --line | tr '\n' ' '
echo
