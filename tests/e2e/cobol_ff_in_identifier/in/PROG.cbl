       01 AÿB PIC X.
       01 Cÿ
       COPY FFM.
-INC FÿX
