-INC CD
      -INC CD
       -INC CD
       ++INCLUDE CD
