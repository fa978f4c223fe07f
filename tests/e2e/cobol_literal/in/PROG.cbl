       01 A PIC X(20) VALUE 'COPY LITM.'.
       01 B PIC X(40) VALUE 'ABC
      -    'COPY LITM. XYZ'.
       COPY LITM.
       01 C PIC X(9) VALUE "COPY LITM".
       01 D PIC X(40) VALUE 'DEF
      -
       COPY LITM.
       01 E PIC X(9) VALUE 'X
      -INC LITM
-INC LITM
