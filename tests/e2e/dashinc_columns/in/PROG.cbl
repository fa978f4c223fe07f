-INC C1
 -INC C2
      -INC C7
       -INC C8
        -INC C9
         -INC C10
          -INC C11
000800-INC C7
