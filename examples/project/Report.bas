$APPTYPE CONSOLE
$TYPECHECK ON

' Scores a few rounds, times them and prints a small report.
DIM watch as stopwatch
DIM total AS tally, hits As Tally
DIM names AS TEXTLIST
DIM round AS LONG

banner("Vorrel example")
watch.start
FOR round = 1 TO 10
    total.add(clamp(round * 7, 0, 50))
    IF round MOD 3 = 0 THEN hits.ADD(1)
    names.push("round " + STR$(round))
NEXT round
watch.STOP

PRINT "rounds:  "; PadLeft(STR$(names.count), 6)
PRINT "score:   "; padleft(STR$(total.value), 6)
PRINT "hits:    "; PADLEFT(STR$(percent(hits.value, names.count)), 5); "%"
PRINT "time:    "; watch.elapsed; " ms"
END
